#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "script/byte_buffer.h"

namespace zelkor {

class File;

// Size of each of a FileJob's two buffers; larger files make them grow.
inline constexpr std::size_t FileJobCapacity = 64 * 1024 * 1024;

// One source file in memory in the form an archive stores it: its raw bytes,
// their content hash, and the stored bytes (one LZ4 block, or the raw bytes
// again when compression does not make them strictly smaller).
//
// Made once per worker and reused for every file: both buffers are allocated at
// creation, zero-filled (their pages cost nothing until written), and loading a
// file of at most FileJobCapacity bytes allocates nothing. A file of more than
// FileJobCapacity bytes is stored whole: the buffers grow to its size for it and
// shrink back to FileJobCapacity with the next smaller file.
//
// Used by one thread at a time; movable, not copyable.
class FileJob {
public:
    FileJob();

    // After a successful Load, the first storedSize bytes are the bytes to store.
    // The consumer may overwrite them (the archive writer encrypts them in place).
    ByteBuffer storedBytes;
    // After a successful Load, the first rawSize bytes are the file's content.
    ByteBuffer rawBytes;
    std::uint64_t storedSize = 0;  // at most rawSize; equal exactly when stored raw
    std::uint64_t rawSize = 0;
    std::uint32_t contentHash = 0;  // XXH32 of the raw bytes, seed ArchiveMagic

    // Loads the regular file at `path` (links followed). False, with the three
    // numeric fields 0, when it cannot be opened, is not a regular file (a
    // directory, a FIFO, a device or a socket, which are refused at once and never
    // waited on) or cannot be read.
    //
    // A file of 4 GiB or more is not read, since an archive cannot describe it:
    // the result is true with rawSize its length and storedSize and contentHash 0,
    // and the archive writer refuses it by its size.
    bool Load(const std::string& path);

    // What Load does once the file is open: reads at most `length` bytes, the
    // file's length as last seen, from the current position of `source`. A file
    // that has become shorter is hashed and stored as far as it could be read, and
    // rawSize tells how far that was.
    bool LoadFrom(File& source, std::uint64_t length);

    // Hands the memory that earlier loads wrote to both buffers back to the
    // system, except for their first `keep` bytes, so that a job which once held
    // a large file does not stay large while it waits for the next one. The
    // buffers keep their size, and the next Load works as usual (it touches the
    // pages anew). Costs nothing when no load went beyond `keep`.
    void ReleaseMemory(std::size_t keep);

private:
    void Reset();
    void FitBuffers(std::size_t length);
    void Compress();

    // LZ4's high-compression working state, made once and reused by every load.
    ByteBuffer compressorState_;
    // How far into either buffer the loads since the last ReleaseMemory may have
    // written.
    std::size_t writtenEnd_ = 0;
};

}  // namespace zelkor
