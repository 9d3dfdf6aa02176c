#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "archive/entry_codec.h"
#include "archive/loaded_file.h"
#include "platform/byte_buffer.h"

namespace zelkor {

class File;

// Size of each of a FileJob's two buffers; larger files make them grow.
inline constexpr std::size_t FileJobCapacity = 64 * 1024 * 1024;

// The working storage that brings one source file into memory in the form an
// archive stores it: the file is read into `rawBytes` and encoded (hashed, and
// compressed into `storedBytes`) by the job's EntryCodec.
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

    // Loads the regular file at `path` (links followed). Nothing when it cannot
    // be opened, is not a regular file (a directory, a FIFO, a device or a
    // socket, which are refused at once and never waited on) or cannot be read.
    // The result's stored bytes lie in this job's buffers (in `rawBytes` when the
    // file is stored raw) and stay valid until the next load; their holder may
    // overwrite them.
    //
    // A file of 4 GiB or more is not read, since an archive cannot describe it:
    // the result has its length as raw size, no stored bytes and hash 0, and the
    // archive writer refuses it by its size.
    std::optional<LoadedFile> Load(const std::string& path);

    // What Load does once the file is open: reads at most `length` bytes, the
    // file's length as last seen, from the current position of `source`. A file
    // that has become shorter is hashed and stored as far as it could be read,
    // and the raw size tells how far that was.
    std::optional<LoadedFile> LoadFrom(File& source, std::uint64_t length);

    // Hands the memory that earlier loads wrote to both buffers back to the
    // system, except for their first `keep` bytes, so that a job which once held
    // a large file does not stay large while it waits for the next one. The
    // buffers keep their size, and the next Load works as usual (it touches the
    // pages anew). Costs nothing when no load went beyond `keep`.
    void ReleaseMemory(std::size_t keep);

    ByteBuffer storedBytes;
    ByteBuffer rawBytes;

private:
    void FitBuffers(std::size_t length);

    EntryCodec codec_;
    // How far into either buffer the loads since the last ReleaseMemory may have
    // written.
    std::size_t writtenEnd_ = 0;
};

}  // namespace zelkor
