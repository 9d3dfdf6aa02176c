#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "platform/little_endian.h"

namespace zelkor {

// What a record keeps of a file's status to tell later whether the file may
// have changed: its identity (device and inode), size, and modification and
// change times in nanoseconds. Equal in every field or not the same.
struct RecordedStatus {
    static constexpr std::size_t Size = 40;

    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;

    static RecordedStatus Of(const FileStatus& status)
    {
        return {status.device, status.inode, status.size, status.modifiedNanoseconds, status.changedNanoseconds};
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
    }
    static RecordedStatus DecodeFrom(const std::uint8_t* in)
    {
        return {DecodeFixed64(in), DecodeFixed64(in + 8), DecodeFixed64(in + 16),
                static_cast<std::int64_t>(DecodeFixed64(in + 24)), static_cast<std::int64_t>(DecodeFixed64(in + 32))};
    }
};

}  // namespace zelkor
