#include "physfs/entry_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zelkor {

namespace {

// Entries stored raw from this size on are read by ranges, as big media is
// streamed, rather than decoded whole.
constexpr std::uint64_t StreamedFrom = 1 << 20;

}  // namespace

PHYSFS_ErrorCode ErrorCodeOf(zlk_status status)
{
    switch (status) {
    case ZLK_OK:
        return PHYSFS_ERR_OK;
    case ZLK_NOT_FOUND:
        return PHYSFS_ERR_NOT_FOUND;
    case ZLK_NO_MEMORY:
        return PHYSFS_ERR_OUT_OF_MEMORY;
    case ZLK_IO:
        return PHYSFS_ERR_IO;
    case ZLK_COMMIT_PENDING:
        return PHYSFS_ERR_BUSY;
    case ZLK_MISUSE:
        return PHYSFS_ERR_INVALID_ARGUMENT;
    case ZLK_BUFFER_TOO_SMALL:
    case ZLK_ENTRY_DAMAGED:
    case ZLK_NOT_RAW:
    case ZLK_ARCHIVE_DAMAGED:
    case ZLK_FOREIGN_KEY_FILE:
        break;
    }
    return PHYSFS_ERR_CORRUPT;
}

PHYSFS_Io* EntryStream::Open(const zlk_archive* archive, std::uint64_t index, const std::optional<zlk_entry>& entry)
{
    auto* stream = new (std::nothrow) EntryStream(archive, index, entry);
    auto* io = new (std::nothrow) PHYSFS_Io{};
    if (!stream || !io) {
        delete stream;
        delete io;
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    io->version = 0;
    io->opaque = stream;
    io->read = Read;
    io->write = Write;
    io->seek = Seek;
    io->tell = Tell;
    io->length = Length;
    io->duplicate = Duplicate;
    io->flush = Flush;
    io->destroy = Destroy;
    return io;
}

bool EntryStream::Known()
{
    if (entry_)
        return true;
    zlk_entry entry;
    const zlk_status status = zlk_entry_at(archive_, index_, &entry);
    if (status != ZLK_OK) {
        PHYSFS_setErrorCode(ErrorCodeOf(status));
        return false;
    }
    entry_ = entry;
    return true;
}

bool EntryStream::Decoded()
{
    if (content_)
        return true;
    std::unique_ptr<unsigned char[]> content(new (std::nothrow) unsigned char[std::max<std::uint64_t>(entry_->raw_size, 1)]);
    if (!content) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return false;
    }
    const zlk_status status = zlk_read(archive_, index_, content.get(), entry_->raw_size, nullptr);
    if (status != ZLK_OK) {
        PHYSFS_setErrorCode(ErrorCodeOf(status));
        return false;
    }
    content_ = std::move(content);
    return true;
}

PHYSFS_sint64 EntryStream::ReadAt(void* buffer, PHYSFS_uint64 length)
{
    const std::uint64_t size = entry_->raw_size;
    if (position_ >= size || length == 0)
        return 0;
    const std::uint64_t count = std::min<std::uint64_t>(length, size - position_);
    // The whole entry from its start: straight into the caller's buffer, checked.
    if (!content_ && position_ == 0 && count == size) {
        const zlk_status status = zlk_read(archive_, index_, buffer, static_cast<size_t>(count), nullptr);
        if (status != ZLK_OK) {
            PHYSFS_setErrorCode(ErrorCodeOf(status));
            return -1;
        }
    } else if (!content_ && !entry_->compressed && size >= StreamedFrom) {
        const zlk_status status =
            zlk_read_range(archive_, index_, position_, buffer, static_cast<size_t>(count), nullptr);
        if (status != ZLK_OK) {
            PHYSFS_setErrorCode(ErrorCodeOf(status));
            return -1;
        }
    } else {
        if (!Decoded())
            return -1;
        std::memcpy(buffer, content_.get() + position_, static_cast<size_t>(count));
    }
    position_ += count;
    return static_cast<PHYSFS_sint64>(count);
}

PHYSFS_sint64 EntryStream::Read(PHYSFS_Io* io, void* buffer, PHYSFS_uint64 length)
{
    EntryStream& stream = Of(io);
    if (!stream.Known())
        return -1;
    return stream.ReadAt(buffer, length);
}

PHYSFS_sint64 EntryStream::Write(PHYSFS_Io*, const void*, PHYSFS_uint64)
{
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return -1;
}

int EntryStream::Seek(PHYSFS_Io* io, PHYSFS_uint64 offset)
{
    EntryStream& stream = Of(io);
    if (!stream.Known())
        return 0;
    if (offset > stream.entry_->raw_size) {
        PHYSFS_setErrorCode(PHYSFS_ERR_PAST_EOF);
        return 0;
    }
    stream.position_ = offset;
    return 1;
}

PHYSFS_sint64 EntryStream::Tell(PHYSFS_Io* io)
{
    return static_cast<PHYSFS_sint64>(Of(io).position_);
}

PHYSFS_sint64 EntryStream::Length(PHYSFS_Io* io)
{
    EntryStream& stream = Of(io);
    if (!stream.Known())
        return -1;
    return stream.entry_->raw_size;
}

PHYSFS_Io* EntryStream::Duplicate(PHYSFS_Io* io)
{
    const EntryStream& stream = Of(io);
    return Open(stream.archive_, stream.index_, stream.entry_);
}

int EntryStream::Flush(PHYSFS_Io*)
{
    return 1;
}

void EntryStream::Destroy(PHYSFS_Io* io)
{
    delete &Of(io);
    delete io;
}

}  // namespace zelkor
