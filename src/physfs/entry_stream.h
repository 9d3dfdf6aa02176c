#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <physfs.h>

#include "zelkor/zelkor.h"

namespace zelkor {

// One entry of an archive as PhysicsFS reads a file: a PHYSFS_Io whose opaque
// is this stream. Making one reads nothing (PhysicsFS makes it under its global
// lock); the entry's record is read at the first read, seek or length, and its
// content is decoded and checked there (see zelkor_physfs.h, "Reads").
// PhysicsFS uses one stream on one thread at a time; streams of one archive
// may be read on many threads at once.
class EntryStream {
public:
    // A new PHYSFS_Io over entry `index` of `archive`, which must outlive it,
    // with its fields when they are known already; null when memory runs out
    // (PHYSFS_ERR_OUT_OF_MEMORY set).
    static PHYSFS_Io* Open(const zlk_archive* archive, std::uint64_t index,
                           const std::optional<zlk_entry>& entry = std::nullopt);

    // The callbacks of the PHYSFS_Io.
    static PHYSFS_sint64 Read(PHYSFS_Io* io, void* buffer, PHYSFS_uint64 length);
    static PHYSFS_sint64 Write(PHYSFS_Io* io, const void* buffer, PHYSFS_uint64 length);
    static int Seek(PHYSFS_Io* io, PHYSFS_uint64 offset);
    static PHYSFS_sint64 Tell(PHYSFS_Io* io);
    static PHYSFS_sint64 Length(PHYSFS_Io* io);
    static PHYSFS_Io* Duplicate(PHYSFS_Io* io);
    static int Flush(PHYSFS_Io* io);
    static void Destroy(PHYSFS_Io* io);

private:
    EntryStream(const zlk_archive* archive, std::uint64_t index, const std::optional<zlk_entry>& entry)
        : archive_(archive), index_(index), entry_(entry)
    {
    }
    static EntryStream& Of(PHYSFS_Io* io) { return *static_cast<EntryStream*>(io->opaque); }

    // The entry's fields, read once; false with the error set when they cannot be.
    bool Known();
    // The whole content, decoded once into memory of the stream's own.
    bool Decoded();
    PHYSFS_sint64 ReadAt(void* buffer, PHYSFS_uint64 length);

    const zlk_archive* archive_;
    std::uint64_t index_;
    std::uint64_t position_ = 0;
    std::optional<zlk_entry> entry_;
    std::unique_ptr<unsigned char[]> content_;
};

// PhysicsFS's error code for a status of the reader library.
PHYSFS_ErrorCode ErrorCodeOf(zlk_status status);

}  // namespace zelkor
