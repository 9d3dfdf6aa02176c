// The C interface of include/zelkor/zelkor.h over the reader layer: handles,
// statuses and messages at the boundary, nothing thrown across it.
#include "zelkor/zelkor.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "archive/archive_format.h"
#include "archive/archive_format_error.h"
#include "library/archive_handle.h"
#include "library/boundary.h"
#include "library/callback_source.h"
#include "library/hook_memory.h"
#include "output/joint_commit.h"
#include "platform/file_system.h"
#include "reader/file_source.h"
#include "reader/indexed_archive.h"
#include "reader/set_volumes.h"
#include "reader/source_error.h"
#include "reader/volume_set.h"

namespace zelkor {

zlk_status Report(zlk_error* error, zlk_status status, const std::string& message)
{
    if (error) {
        error->status = status;
        const std::size_t length = std::min(message.size(), sizeof error->message - 1);
        std::memcpy(error->message, message.data(), length);
        error->message[length] = '\0';
    }
    return status;
}

zlk_archive* NewHandle(const zlk_allocator* hooks)
{
    void* memory = HookMemory::AllocateRaw(hooks, sizeof(zlk_archive), alignof(zlk_archive));
    return memory ? new (memory) zlk_archive(hooks) : nullptr;
}

void DeleteHandle(zlk_archive* archive)
{
    const zlk_allocator hooks = archive->hooks;
    const bool hooked = archive->hooked;
    archive->~zlk_archive();
    HookMemory::ReleaseRaw(hooked ? &hooks : nullptr, archive, sizeof(zlk_archive), alignof(zlk_archive));
}

}  // namespace zelkor

namespace {

using zelkor::DeleteHandle;
using zelkor::Guarded;
using zelkor::Ok;
using zelkor::Report;

// "game.pak: entry 3 (FileEntry at offset 1234)", for messages.
std::string EntryWhere(const zlk_archive& archive, std::uint64_t index, const zelkor::FileEntry& fields)
{
    return archive.archive->Describe(index, fields);
}

}  // namespace

extern "C" {

void zlk_close(zlk_archive* archive)
{
    if (archive)
        DeleteHandle(archive);
}

uint64_t zlk_entry_count(const zlk_archive* archive)
{
    return archive ? archive->archive->EntryCount() : 0;
}

int zlk_has_names(const zlk_archive* archive)
{
    return archive && archive->archive->HasNames() ? 1 : 0;
}

zlk_status zlk_entry_at(const zlk_archive* archive, uint64_t index, zlk_entry* out)
{
    if (!archive || !out || index >= archive->archive->EntryCount())
        return ZLK_MISUSE;
    return Guarded(nullptr, [&] {
        const zelkor::FileEntry fields = archive->archive->Fields(index);
        zlk_entry entry{};
        entry.index = index;
        entry.raw_size = fields.rawSize;
        entry.stored_size = fields.storedSize;
        entry.content_hash = fields.contentHash;
        entry.name_hash = fields.nameHash;
        entry.compressed = fields.storedSize < fields.rawSize ? 1 : 0;
        if (const std::optional<std::string_view> name = archive->archive->TrustedName(index, fields)) {
            entry.name = name->data();
            entry.name_length = name->size();
        }
        *out = entry;
        return ZLK_OK;
    });
}

zlk_status zlk_find(const zlk_archive* archive, const char* path, size_t length, uint64_t* index)
{
    if (!archive || (!path && length > 0) || !index)
        return ZLK_MISUSE;
    return Guarded(nullptr, [&] {
        const std::optional<std::uint64_t> found = archive->archive->Find(std::string_view(path ? path : "", length));
        if (!found)
            return ZLK_NOT_FOUND;
        *index = *found;
        return ZLK_OK;
    });
}

zlk_status zlk_read(const zlk_archive* archive, uint64_t index, void* buffer, size_t capacity, zlk_error* error)
{
    if (!archive || (!buffer && capacity > 0))
        return Report(error, ZLK_MISUSE, "zlk_read: no archive, or no buffer");
    if (index >= archive->archive->EntryCount())
        return Report(error, ZLK_MISUSE, "zlk_read: no entry " + std::to_string(index));
    return Guarded(error, [&] {
        zelkor::FileEntry fields;
        const auto status = archive->archive->Read(
            index, std::span<std::uint8_t>(static_cast<std::uint8_t*>(buffer), capacity), fields);
        if (status == zelkor::EntryReader::Status::Ok)
            return Ok(error);
        const std::string where = EntryWhere(*archive, index, fields);
        if (!status)
            return Report(error, ZLK_BUFFER_TOO_SMALL,
                          where + " holds " + std::to_string(fields.rawSize) + " bytes, more than the buffer's " +
                              std::to_string(capacity));
        return Report(error, ZLK_ENTRY_DAMAGED, where + ": " + zelkor::EntryReader::Describe(*status));
    });
}

zlk_status zlk_read_range(const zlk_archive* archive, uint64_t index, uint64_t offset, void* buffer, size_t length,
                          zlk_error* error)
{
    if (!archive || (!buffer && length > 0))
        return Report(error, ZLK_MISUSE, "zlk_read_range: no archive, or no buffer");
    if (index >= archive->archive->EntryCount())
        return Report(error, ZLK_MISUSE, "zlk_read_range: no entry " + std::to_string(index));
    return Guarded(error, [&] {
        const zelkor::FileEntry fields = archive->archive->Fields(index);
        if (fields.storedSize != fields.rawSize)
            return Report(error, ZLK_NOT_RAW, EntryWhere(*archive, index, fields) + " is stored compressed; read it whole");
        if (offset > fields.rawSize || length > fields.rawSize - offset)
            return Report(error, ZLK_MISUSE,
                          EntryWhere(*archive, index, fields) + " holds " + std::to_string(fields.rawSize) + " bytes; " + std::to_string(length) +
                              " at " + std::to_string(offset) + " pass its end");
        archive->archive->ReadRange(index, fields, offset,
                                    std::span<std::uint8_t>(static_cast<std::uint8_t*>(buffer), length));
        return Ok(error);
    });
}

uint32_t zlk_name_hash(const char* path, size_t length)
{
    return zelkor::NameHash(std::string_view(path ? path : "", path ? length : 0));
}

zlk_status zlk_complete_commit(const char* archive_path, const char* key_path, zlk_error* error)
{
    (void)key_path;
    if (!archive_path)
        return Report(error, ZLK_MISUSE, "zlk_complete_commit: no archive path");
    return Guarded(error, [&] {
        // A set's commit is recorded beside its first volume, whichever of the
        // two files is named.
        std::string path = archive_path;
        if (!zelkor::JointCommit::Pending(path))
            path = zelkor::SetVolumes::FirstVolumeOf(path);
        zelkor::JointCommit::Complete(path);
        if (zelkor::JointCommit::Pending(path))
            return Report(error, ZLK_IO,
                          path + ": the commit left by a rebuild could not be completed (its files are locked by "
                                 "a running zelkor, or cannot be renamed or removed here)");
        return Ok(error);
    });
}

uint32_t zlk_volume_count(const zlk_archive* archive)
{
    if (!archive)
        return 0;
    return archive->set ? static_cast<uint32_t>(archive->set->VolumeCount()) : 1;
}

zlk_status zlk_open_volumes(const zlk_archive* archive, zlk_error* error)
{
    if (!archive)
        return Report(error, ZLK_MISUSE, "zlk_open_volumes: no archive");
    return Guarded(error, [&] {
        if (archive->set)
            archive->set->OpenAll();
        return Ok(error);
    });
}

size_t zlk_memory_use(const zlk_archive* archive)
{
    return archive ? archive->archive->MemoryUse() : 0;
}

const char* zlk_status_string(zlk_status status)
{
    switch (status) {
    case ZLK_OK:
        return "ok";
    case ZLK_NOT_FOUND:
        return "not found";
    case ZLK_BUFFER_TOO_SMALL:
        return "buffer too small";
    case ZLK_ENTRY_DAMAGED:
        return "entry damaged";
    case ZLK_NOT_RAW:
        return "entry not stored raw";
    case ZLK_IO:
        return "input or output failed";
    case ZLK_ARCHIVE_DAMAGED:
        return "archive damaged";
    case ZLK_FOREIGN_KEY_FILE:
        return "key file of another archive";
    case ZLK_COMMIT_PENDING:
        return "commit pending";
    case ZLK_NO_MEMORY:
        return "out of memory";
    case ZLK_MISUSE:
        return "misuse";
    }
    return "unknown status";
}

uint32_t zlk_version_number(void)
{
    return ZLK_VERSION_NUMBER;
}

const char* zlk_version_string(void)
{
    return ZLK_VERSION_STRING;
}

}  // extern "C"
