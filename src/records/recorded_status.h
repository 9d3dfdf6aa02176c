#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "platform/little_endian.h"

namespace zelkor {

// What a record keeps of a file's status to tell later whether the file may
// have changed: its identity (device and inode), size, modification and change
// times in nanoseconds, and where it lives (its mount's identity and its file
// system's), so that another image mounted where one was, with the same inode
// numbers, sizes and times, is not taken for it. Equal in every field or not
// the same.
struct RecordedStatus {
    static constexpr std::size_t Size = 56;

    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    std::uint64_t mount = 0;
    std::uint64_t fileSystem = 0;

    static RecordedStatus Of(const FileStatus& status)
    {
        return {status.device,
                status.inode,
                status.size,
                status.modifiedNanoseconds,
                status.changedNanoseconds,
                status.mount,
                status.fileSystem};
    }

    // The later of the two times: nothing about the file has changed since.
    std::int64_t LastChange() const { return std::max(modified, changed); }

    bool operator==(const RecordedStatus& other) const = default;

    void EncodeTo(std::uint8_t* out) const
    {
        EncodeFixed64(out, device);
        EncodeFixed64(out + 8, inode);
        EncodeFixed64(out + 16, size);
        EncodeFixed64(out + 24, static_cast<std::uint64_t>(modified));
        EncodeFixed64(out + 32, static_cast<std::uint64_t>(changed));
        EncodeFixed64(out + 40, mount);
        EncodeFixed64(out + 48, fileSystem);
    }
    static RecordedStatus DecodeFrom(const std::uint8_t* in)
    {
        return {DecodeFixed64(in),
                DecodeFixed64(in + 8),
                DecodeFixed64(in + 16),
                static_cast<std::int64_t>(DecodeFixed64(in + 24)),
                static_cast<std::int64_t>(DecodeFixed64(in + 32)),
                DecodeFixed64(in + 40),
                DecodeFixed64(in + 48)};
    }
};

}  // namespace zelkor
