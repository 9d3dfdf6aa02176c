#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/file.h"

namespace zelkor {

class EntryStream;

// One source file in the form an archive stores it, from loading to the
// archive writer: the stored bytes (one LZ4 block, or the raw bytes when
// compression did not make them strictly smaller), the raw size and the content
// hash of the raw bytes.
//
// The bytes belong to whoever loaded the file; the holder of a LoadedFile may
// overwrite them in place (the writer encrypts them there).
struct LoadedFile {
    std::span<std::uint8_t> stored;
    std::uint64_t rawSize = 0;
    std::uint32_t contentHash = 0;
    // The stored bytes are already encrypted with the archive's key (done where
    // the file was loaded, on any thread, since every entry's cipher starts
    // afresh), so the writer only writes them.
    bool encrypted = false;
    // When set, the stored bytes are the raw bytes, not held here (`stored` is
    // empty) but read from the stream as they are written.
    EntryStream* stream = nullptr;

    // How the bytes were come by, for a build that may later be left in place
    // as it is: the status of the source they were read from, found settled
    // and unchanged while it was read (or vouched for by its status record),
    // and when they were last proven by a read, in nanoseconds since the epoch.
    // Nothing when the load gave no such assurance.
    struct Settled {
        FileStatus status;
        std::int64_t proven = 0;
    };
    std::optional<Settled> settled = std::nullopt;

    // Stored compressed exactly when the stored bytes are fewer than the raw ones.
    bool IsCompressed() const { return stream == nullptr && stored.size() < rawSize; }
};

}  // namespace zelkor
