// The mount lists of include/zelkor/zelkor.h over the reader layer's
// MountList: each mounted zlk_archive is a layer that the list owns, with the
// names of its deletion list hidden below it.
#include <memory>
#include <new>
#include <string>

#include "archive/deletion_list.h"
#include "library/archive_handle.h"
#include "library/boundary.h"
#include "library/callback_source.h"
#include "platform/file_system.h"
#include "reader/file_source.h"
#include "reader/mount_list.h"
#include "reader/patch_deletions.h"
#include "zelkor/zelkor.h"

struct zlk_mounts {
    zelkor::MountList list;
};

namespace {

using zelkor::Guarded;
using zelkor::Ok;
using zelkor::Report;

// Mounts `archive` (which the list takes on success) with `hidden` names.
zlk_status MountOpened(zlk_mounts* mounts, zlk_archive* archive, std::vector<std::string> hidden,
                       const std::string& name, int priority, zlk_error* error)
{
    // The list closes the archive when it lets it go, but only once it was
    // mounted: until this call has decided, it holds the archive too, and on
    // failure disarms the close before it lets go.
    const auto closes = std::make_shared<bool>(true);
    const std::shared_ptr<const void> owner(archive, [closes](const void* held) {
        if (*closes)
            zlk_close(static_cast<zlk_archive*>(const_cast<void*>(held)));
    });
    const zlk_status status = Guarded(error, [&] {
        // The names are loaded now, so that the first lookups do not wait for them.
        if (archive->archive->HasNames() && archive->archive->EntryCount() > 0)
            archive->archive->NameAt(0);
        zelkor::MountList::Layer layer;
        layer.name = name;
        layer.priority = priority;
        layer.archive = archive->archive.get();
        layer.owner = owner;
        layer.hidden = std::move(hidden);
        switch (mounts->list.Mount(std::move(layer))) {
        case zelkor::MountList::Mounting::Mounted:
            break;
        case zelkor::MountList::Mounting::NameTaken:
            return Report(error, ZLK_MISUSE, name + " is mounted already");
        case zelkor::MountList::Mounting::TooManyEntries:
            return Report(error, ZLK_MISUSE, name + " holds more entries than a mount list can number");
        }
        return Ok(error);
    });
    if (status != ZLK_OK)
        *closes = false;
    return status;
}

}  // namespace

extern "C" {

zlk_status zlk_mounts_create(zlk_mounts** out)
{
    if (!out)
        return ZLK_MISUSE;
    *out = nullptr;
    return Guarded(nullptr, [&] {
        *out = new zlk_mounts;
        return ZLK_OK;
    });
}

void zlk_mounts_destroy(zlk_mounts* mounts)
{
    delete mounts;
}

zlk_status zlk_mount(zlk_mounts* mounts, const char* archive_path, const char* key_path, int priority,
                     zlk_error* error)
{
    if (!mounts || !archive_path)
        return Report(error, ZLK_MISUSE, "zlk_mount: no mount list or no archive path");
    std::string defaultKey;
    return Guarded(error, [&] {
        const std::string path = archive_path;
        if (!key_path) {
            defaultKey = path + ".zlk";
            if (zelkor::StatusOf(defaultKey))
                key_path = defaultKey.c_str();
        }
        zlk_archive* archive = nullptr;
        if (const zlk_status opened = zlk_open(archive_path, key_path, &archive, error); opened != ZLK_OK)
            return opened;
        std::vector<std::string> hidden;
        zlk_status status = Guarded(error, [&] {
            const std::string listPath = zelkor::DeletionList::PathFor(path);
            if (zelkor::StatusOf(listPath))
                hidden = zelkor::PatchDeletions::Read(zelkor::FileSource(listPath), *archive->archive).names;
            return ZLK_OK;
        });
        if (status == ZLK_OK)
            status = MountOpened(mounts, archive, std::move(hidden), path, priority, error);
        if (status != ZLK_OK)
            zlk_close(archive);
        return status;
    });
}

zlk_status zlk_mount_archive(zlk_mounts* mounts, zlk_archive* archive, const zlk_source* deletions,
                             const char* name, int priority, zlk_error* error)
{
    if (!mounts || !archive || !name || (deletions && !deletions->read_at)) {
        if (deletions && deletions->release)
            deletions->release(deletions->opaque);
        return Report(error, ZLK_MISUSE, "zlk_mount_archive: no mount list, archive or name, or a source without read_at");
    }
    std::vector<std::string> hidden;
    if (deletions) {
        const zlk_status read = Guarded(error, [&] {
            const zelkor::CallbackSource source(*deletions, std::string(name) + ".del");
            hidden = zelkor::PatchDeletions::Read(source, *archive->archive).names;
            return ZLK_OK;
        });
        if (read != ZLK_OK)
            return read;
    }
    return MountOpened(mounts, archive, std::move(hidden), name, priority, error);
}

zlk_status zlk_unmount(zlk_mounts* mounts, const char* archive_path)
{
    if (!mounts || !archive_path)
        return ZLK_MISUSE;
    return Guarded(nullptr, [&] { return mounts->list.Unmount(archive_path) ? ZLK_OK : ZLK_NOT_FOUND; });
}

size_t zlk_mounts_count(const zlk_mounts* mounts)
{
    return mounts ? mounts->list.Size() : 0;
}

zlk_status zlk_mounts_find(const zlk_mounts* mounts, const char* path, size_t length, const zlk_archive** archive,
                           uint64_t* index)
{
    if (!mounts || (!path && length > 0) || !archive || !index)
        return ZLK_MISUSE;
    return Guarded(nullptr, [&] {
        const auto found = mounts->list.Find(std::string_view(path ? path : "", length));
        if (!found)
            return ZLK_NOT_FOUND;
        *archive = static_cast<const zlk_archive*>(found->tag);
        *index = found->index;
        return ZLK_OK;
    });
}

zlk_status zlk_mounts_list(const zlk_mounts* mounts, const char* directory, size_t length, unsigned flags,
                           zlk_listing_callback callback, void* opaque)
{
    if (!mounts || (!directory && length > 0) || !callback || (flags & ~ZLK_LIST_RECURSIVE))
        return ZLK_MISUSE;
    return Guarded(nullptr, [&] {
        mounts->list.List(std::string_view(directory ? directory : "", length), flags & ZLK_LIST_RECURSIVE,
                          [&](const zelkor::MountList::Listed& listed) {
                              zlk_listing item{};
                              item.path = listed.path.data();
                              item.path_length = listed.path.size();
                              item.name_offset = listed.nameOffset;
                              item.is_directory = listed.directory ? 1 : 0;
                              item.archive = static_cast<const zlk_archive*>(listed.tag);
                              item.index = listed.index;
                              return callback(opaque, &item) == 0;
                          });
        return ZLK_OK;
    });
}

}  // extern "C"
