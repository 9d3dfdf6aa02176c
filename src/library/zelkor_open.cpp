// Opening archives through the C interface of include/zelkor/zelkor.h: from
// paths, from a game's own sources, and volume sets, with their options.
#include "zelkor/zelkor.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "archive/archive_format.h"
#include "archive/archive_format_error.h"
#include "library/archive_handle.h"
#include "library/boundary.h"
#include "library/callback_source.h"
#include "library/callback_volumes.h"
#include "library/hook_memory.h"
#include "output/joint_commit.h"
#include "platform/file_system.h"
#include "reader/file_source.h"
#include "reader/indexed_archive.h"
#include "reader/set_volumes.h"
#include "reader/source_error.h"
#include "reader/volume_set.h"


namespace {

using zelkor::DeleteHandle;
using zelkor::Guarded;
using zelkor::IndexedArchive;
using zelkor::NewHandle;
using zelkor::Ok;
using zelkor::Report;

const zlk_open_options* Defaults()
{
    static const zlk_open_options defaults = ZLK_OPEN_OPTIONS_INIT;
    return &defaults;
}

// The options as this library knows them: fields past the caller's
// struct_size keep their defaults.
zlk_open_options Effective(const zlk_open_options* given)
{
    zlk_open_options options = *Defaults();
    if (given && given->struct_size >= sizeof(std::size_t))
        std::memcpy(&options, given, std::min(given->struct_size, sizeof options));
    options.struct_size = sizeof options;
    return options;
}

// Opens sources that are made only once the handle exists, so that a failure
// on the way releases everything.
template <typename MakeSources>
zlk_status Open(const zlk_open_options& options, zlk_archive** out, zlk_error* error, MakeSources&& makeSources)
{
    zlk_archive* handle = NewHandle(options.allocator);
    if (!handle)
        return Report(error, ZLK_NO_MEMORY, "out of memory");
    const zlk_status status = Guarded(error, [&] {
        auto [archive, keyFile] = makeSources();
        handle->archive = std::make_unique<IndexedArchive>(std::move(archive), std::move(keyFile), &handle->memory);
        return Ok(error);
    });
    if (status != ZLK_OK) {
        DeleteHandle(handle);
        return status;
    }
    *out = handle;
    return status;
}

// Opens the set whose volumes `makeVolumes` gives (a SetVolumes), once the
// handle exists, so that a failure on the way releases everything.
template <typename MakeVolumes>
zlk_status OpenSet(const zlk_open_options& options, zlk_archive** out, zlk_error* error, MakeVolumes&& makeVolumes)
{
    zlk_archive* handle = NewHandle(options.allocator);
    if (!handle)
        return Report(error, ZLK_NO_MEMORY, "out of memory");
    const zlk_status status = Guarded(error, [&] {
        auto set = std::make_unique<zelkor::VolumeSet>(makeVolumes(), &handle->memory);
        handle->set = set.get();
        handle->archive = std::move(set);
        return Ok(error);
    });
    if (status != ZLK_OK) {
        DeleteHandle(handle);
        return status;
    }
    *out = handle;
    return status;
}

bool ValidSource(const zlk_source* source)
{
    return source && source->read_at;
}

void ReleaseSource(const zlk_source* source)
{
    if (source && source->release)
        source->release(source->opaque);
}

}  // namespace

extern "C" {

zlk_status zlk_open(const char* archive_path, const char* key_path, zlk_archive** out, zlk_error* error)
{
    return zlk_open_with(archive_path, key_path, nullptr, out, error);
}

zlk_status zlk_open_with(const char* archive_path, const char* key_path, const zlk_open_options* given,
                         zlk_archive** out, zlk_error* error)
{
    if (out)
        *out = nullptr;
    if (!archive_path || !out)
        return Report(error, ZLK_MISUSE, "zlk_open: no archive path or no place for the archive");
    const zlk_open_options options = Effective(given);
    return Guarded(error, [&] {
        const std::string archivePath = archive_path;
        for (const char* path : {archive_path, key_path}) {
            if (path && !zelkor::StatusOf(path))
                return Report(error, ZLK_NOT_FOUND, std::string("Cannot open ") + path + "!");
        }
        // A set's commit is recorded beside its first volume.
        const std::optional<std::string> manifest = zelkor::SetVolumes::ManifestFor(archivePath);
        const std::string primary = manifest ? zelkor::SetVolumes::FirstVolumeOf(*manifest) : archivePath;
        if (zelkor::JointCommit::Pending(primary))
            return Report(error, ZLK_COMMIT_PENDING,
                          primary + ": a rebuild was cut short before its commit completed; "
                                    "zlk_complete_commit (or any zelkor command on it) completes it");
        if (manifest)
            return OpenSet(options, out, error, [&] {
                const std::string key = key_path ? key_path : "";
                return zelkor::SetVolumes(*manifest, key_path ? &key : nullptr);
            });
        return Open(options, out, error, [&] {
            std::unique_ptr<zelkor::ByteSource> archive = std::make_unique<zelkor::FileSource>(archivePath);
            std::unique_ptr<zelkor::ByteSource> keyFile;
            if (key_path)
                keyFile = std::make_unique<zelkor::FileSource>(key_path);
            return std::pair(std::move(archive), std::move(keyFile));
        });
    });
}

zlk_status zlk_open_source(const zlk_source* archive, const zlk_source* key_file, zlk_archive** out,
                           zlk_error* error)
{
    return zlk_open_source_with(archive, key_file, nullptr, out, error);
}

zlk_status zlk_open_source_with(const zlk_source* archive, const zlk_source* key_file,
                                const zlk_open_options* given, zlk_archive** out, zlk_error* error)
{
    if (out)
        *out = nullptr;
    if (!ValidSource(archive) || (key_file && !ValidSource(key_file)) || !out) {
        ReleaseSource(archive);
        ReleaseSource(key_file);
        return Report(error, ZLK_MISUSE, "zlk_open_source: a source without read_at, or no place for the archive");
    }
    const zlk_open_options options = Effective(given);
    // The sources are taken here: from now on their wrappers release them.
    std::unique_ptr<zelkor::ByteSource> archiveSource;
    std::unique_ptr<zelkor::ByteSource> keySource;
    const zlk_status made = Guarded(error, [&] {
        archiveSource = std::make_unique<zelkor::CallbackSource>(
            *archive, options.archive_name ? options.archive_name : "archive source");
        if (key_file)
            keySource = std::make_unique<zelkor::CallbackSource>(
                *key_file, options.key_name ? options.key_name : "key file source");
        return ZLK_OK;
    });
    if (made != ZLK_OK) {
        if (!archiveSource)
            ReleaseSource(archive);
        if (!keySource)
            ReleaseSource(key_file);
        return made;
    }
    return Open(options, out, error, [&] { return std::pair(std::move(archiveSource), std::move(keySource)); });
}

zlk_status zlk_open_set_source(const zlk_source* manifest, const zlk_volume_sources* volumes,
                               const zlk_open_options* given, zlk_archive** out, zlk_error* error)
{
    if (out)
        *out = nullptr;
    if (!ValidSource(manifest) || !volumes || !volumes->open_volume || !out) {
        ReleaseSource(manifest);
        if (volumes && volumes->release)
            volumes->release(volumes->opaque);
        return Report(error, ZLK_MISUSE,
                      "zlk_open_set_source: a manifest without read_at, volumes without open_volume, or no place "
                      "for the archive");
    }
    const zlk_open_options options = Effective(given);
    // Both are taken here: from now on their wrappers release them.
    std::unique_ptr<zelkor::ByteSource> manifestSource;
    std::shared_ptr<const zelkor::CallbackVolumes> opener;
    const zlk_status made = Guarded(error, [&] {
        manifestSource = std::make_unique<zelkor::CallbackSource>(
            *manifest, options.archive_name ? options.archive_name : "set manifest source");
        opener = std::make_shared<const zelkor::CallbackVolumes>(*volumes);
        return ZLK_OK;
    });
    if (made != ZLK_OK) {
        if (!manifestSource)
            ReleaseSource(manifest);
        if (!opener && volumes->release)
            volumes->release(volumes->opaque);
        return made;
    }
    return OpenSet(options, out, error, [&] {
        const std::string firstKey = options.key_name ? options.key_name : "";
        const bool keyFiles = opener->KeyFiles();
        zelkor::SetVolumes set(*manifestSource, keyFiles, options.key_name ? &firstKey : nullptr,
                               zelkor::CallbackVolumes::Opener(std::move(opener)));
        // Read whole: the manifest source is no longer needed.
        manifestSource.reset();
        return set;
    });
}

}  // extern "C"
