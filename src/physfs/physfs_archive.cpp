#include "physfs/physfs_archive.h"

#include <cstring>
#include <new>
#include <string>

#include "physfs/entry_stream.h"

namespace zelkor {

namespace {

// The first bytes of every archive: its magic number, little-endian.
constexpr unsigned char Magic[4] = {0x0C, 0xED, 0x0F, 0x0A};

// The stream that stands for a caller's mount list: it reads as the magic
// number alone, so that the archiver recognises it as any archive of ours.
struct ListStream {
    const zlk_mounts* mounts;
    PHYSFS_uint64 position;
};

PHYSFS_sint64 ListRead(PHYSFS_Io* io, void* buffer, PHYSFS_uint64 length)
{
    auto* stream = static_cast<ListStream*>(io->opaque);
    if (stream->position >= sizeof Magic)
        return 0;
    const auto count = static_cast<std::size_t>(std::min<PHYSFS_uint64>(length, sizeof Magic - stream->position));
    std::memcpy(buffer, Magic + stream->position, count);
    stream->position += count;
    return static_cast<PHYSFS_sint64>(count);
}

PHYSFS_sint64 ListWrite(PHYSFS_Io*, const void*, PHYSFS_uint64)
{
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return -1;
}

int ListSeek(PHYSFS_Io* io, PHYSFS_uint64 offset)
{
    if (offset > sizeof Magic) {
        PHYSFS_setErrorCode(PHYSFS_ERR_PAST_EOF);
        return 0;
    }
    static_cast<ListStream*>(io->opaque)->position = offset;
    return 1;
}

PHYSFS_sint64 ListTell(PHYSFS_Io* io)
{
    return static_cast<PHYSFS_sint64>(static_cast<ListStream*>(io->opaque)->position);
}

PHYSFS_sint64 ListLength(PHYSFS_Io*)
{
    return sizeof Magic;
}

PHYSFS_Io* ListDuplicate(PHYSFS_Io* io)
{
    return PhysfsArchive::MountListStream(static_cast<ListStream*>(io->opaque)->mounts);
}

int ListFlush(PHYSFS_Io*)
{
    return 1;
}

void ListDestroy(PHYSFS_Io* io)
{
    delete static_cast<ListStream*>(io->opaque);
    delete io;
}

// Reads up to `length` bytes at the stream's position.
PHYSFS_sint64 ReadFully(PHYSFS_Io* io, void* buffer, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const PHYSFS_sint64 got = io->read(io, static_cast<unsigned char*>(buffer) + done, length - done);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<PHYSFS_sint64>(done);
}

}  // namespace

PHYSFS_Io* PhysfsArchive::MountListStream(const zlk_mounts* mounts)
{
    auto* stream = new (std::nothrow) ListStream{mounts, 0};
    auto* io = new (std::nothrow) PHYSFS_Io{};
    if (!stream || !io) {
        delete stream;
        delete io;
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    *io = {0, stream, ListRead, ListWrite, ListSeek, ListTell, ListLength, ListDuplicate, ListFlush, ListDestroy};
    return io;
}

PhysfsArchive* PhysfsArchive::Open(PHYSFS_Io* io, const char* name, int forWrite, int* claimed,
                                   const zlk_physfs_options& options)
{
    *claimed = 0;
    unsigned char magic[sizeof Magic];
    if (!io->seek(io, 0) || ReadFully(io, magic, sizeof magic) != sizeof magic ||
        std::memcmp(magic, Magic, sizeof magic) != 0)
        return nullptr;
    *claimed = 1;
    if (forWrite) {
        PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
        return nullptr;
    }
    auto* archive = new (std::nothrow) PhysfsArchive(io);
    if (!archive) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    if (io->read == ListRead) {
        archive->mounts_ = static_cast<ListStream*>(io->opaque)->mounts;
        return archive;
    }
    if (const PHYSFS_ErrorCode failed = archive->OpenOwn(name, options); failed != PHYSFS_ERR_OK) {
        // PhysicsFS keeps its stream when the open fails.
        archive->io_ = nullptr;
        delete archive;
        PHYSFS_setErrorCode(failed);
        return nullptr;
    }
    return archive;
}

int64_t PhysfsArchive::ReadStream(void* opaque, uint64_t offset, void* buffer, size_t length)
{
    auto* archive = static_cast<PhysfsArchive*>(opaque);
    const std::lock_guard lock(archive->ioLock_);
    if (!archive->io_->seek(archive->io_, offset))
        return -1;
    return ReadFully(archive->io_, buffer, length);
}

PHYSFS_ErrorCode PhysfsArchive::OpenOwn(const char* name, const zlk_physfs_options& options)
{
    zlk_source key{};
    const bool handedIn = options.key_file && options.key_file(options.opaque, name, &key) == 1;
    zlk_archive* archive = nullptr;
    zlk_status status = ZLK_NOT_FOUND;
    if (!handedIn) {
        // A file: read by its path, with positioned reads and no lock, and with
        // its key file beside it when there is one.
        const std::string keyPath = std::string(name) + ".zlk";
        status = zlk_open(name, keyPath.c_str(), &archive, nullptr);
        if (status == ZLK_NOT_FOUND)
            status = zlk_open(name, nullptr, &archive, nullptr);
    }
    if (status == ZLK_NOT_FOUND) {
        // Not a file of that name, or a key file handed in: through the stream.
        const PHYSFS_sint64 size = io_->length(io_);
        if (size < 0) {
            if (handedIn && key.release)
                key.release(key.opaque);
            return PHYSFS_ERR_IO;
        }
        const zlk_source source{this, static_cast<uint64_t>(size), ReadStream, nullptr};
        zlk_open_options open = ZLK_OPEN_OPTIONS_INIT;
        open.archive_name = name;
        status = zlk_open_source_with(&source, handedIn ? &key : nullptr, &open, &archive, nullptr);
    }
    if (status != ZLK_OK)
        return ErrorCodeOf(status);
    if (zlk_mounts_create(&owned_) != ZLK_OK) {
        zlk_close(archive);
        return PHYSFS_ERR_OUT_OF_MEMORY;
    }
    status = zlk_mount_archive(owned_, archive, nullptr, name, 0, nullptr);
    if (status != ZLK_OK) {
        zlk_close(archive);
        return ErrorCodeOf(status);
    }
    mounts_ = owned_;
    return PHYSFS_ERR_OK;
}

PhysfsArchive::~PhysfsArchive()
{
    // The archives first: one read through the stream must not outlive it.
    zlk_mounts_destroy(owned_);
    if (io_)
        io_->destroy(io_);
}

PHYSFS_EnumerateCallbackResult PhysfsArchive::Enumerate(const char* directory, PHYSFS_EnumerateCallback callback,
                                                        const char* origin, void* data) const
{
    struct Walk {
        PHYSFS_EnumerateCallback callback;
        const char* origin;
        void* data;
        PHYSFS_EnumerateCallbackResult result = PHYSFS_ENUM_OK;
        std::string name;
    } walk{callback, origin, data, PHYSFS_ENUM_OK, {}};
    const zlk_status status = zlk_mounts_list(
        mounts_, directory, std::strlen(directory), 0,
        [](void* opaque, const zlk_listing* item) {
            auto& walk = *static_cast<Walk*>(opaque);
            walk.name.assign(item->path + item->name_offset, item->path_length - item->name_offset);
            // A name PhysicsFS cannot hand on: an empty component (of "a//b"),
            // or one cut short by a NUL.
            if (walk.name.empty() || walk.name.find('\0') != std::string::npos)
                return 0;
            walk.result = walk.callback(walk.data, walk.origin, walk.name.c_str());
            return walk.result == PHYSFS_ENUM_OK ? 0 : 1;
        },
        &walk);
    if (status != ZLK_OK) {
        PHYSFS_setErrorCode(ErrorCodeOf(status));
        return PHYSFS_ENUM_ERROR;
    }
    if (walk.result == PHYSFS_ENUM_ERROR)
        PHYSFS_setErrorCode(PHYSFS_ERR_APP_CALLBACK);
    return walk.result;
}

PHYSFS_Io* PhysfsArchive::OpenRead(const char* path) const
{
    const zlk_archive* archive = nullptr;
    uint64_t index = 0;
    const zlk_status status = zlk_mounts_find(mounts_, path, std::strlen(path), &archive, &index);
    if (status != ZLK_OK) {
        PHYSFS_setErrorCode(ErrorCodeOf(status));
        return nullptr;
    }
    std::optional<zlk_entry> entry;
    if (archive == statArchive_ && index == statIndex_)
        entry = statEntry_;
    return EntryStream::Open(archive, index, entry);
}

int PhysfsArchive::Stat(const char* path, PHYSFS_Stat* stat) const
{
    *stat = PHYSFS_Stat{-1, -1, -1, -1, PHYSFS_FILETYPE_DIRECTORY, 1};
    const std::size_t length = std::strlen(path);
    if (length == 0)
        return 1;
    const zlk_archive* archive = nullptr;
    uint64_t index = 0;
    zlk_status status = zlk_mounts_find(mounts_, path, length, &archive, &index);
    if (status == ZLK_OK) {
        zlk_entry entry;
        status = zlk_entry_at(archive, index, &entry);
        if (status != ZLK_OK) {
            PHYSFS_setErrorCode(ErrorCodeOf(status));
            return 0;
        }
        stat->filesize = entry.raw_size;
        stat->filetype = PHYSFS_FILETYPE_REGULAR;
        // Only an archive of its own stays what it is between the two calls: a
        // caller's list may change meanwhile.
        if (owned_) {
            statArchive_ = archive;
            statIndex_ = index;
            statEntry_ = entry;
        }
        return 1;
    }
    // A directory holds something.
    bool any = false;
    status = zlk_mounts_list(
        mounts_, path, length, 0,
        [](void* opaque, const zlk_listing*) {
            *static_cast<bool*>(opaque) = true;
            return 1;
        },
        &any);
    if (status == ZLK_OK && any)
        return 1;
    PHYSFS_setErrorCode(status == ZLK_OK ? PHYSFS_ERR_NOT_FOUND : ErrorCodeOf(status));
    return 0;
}

}  // namespace zelkor
