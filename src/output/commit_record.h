#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/file_system.h"

namespace zelkor {

// The record of a commit that puts several files in place as one (see
// JointCommit): which temporary file goes to which target, in the order of the
// renames, and which file each one is (its identity as written). It is written
// beside the last target, the primary, as ".NAME.zelkor-commit". The layout is
// in docs/format.md.
//
// Decode trusts nothing: it refuses every record that is not well formed, and
// every one that could make a rename reach anything but a target it names from
// a temporary name of that target beside it.
class CommitRecord {
public:
    static constexpr std::uint32_t Version = 2;

    // What tells the file written from any other put at its name: device,
    // inode, size and modification time, none of which a rename changes.
    struct Identity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t size = 0;
        std::int64_t modified = 0;

        static Identity Of(const FileStatus& status)
        {
            return {status.device, status.inode, status.size, status.modifiedNanoseconds};
        }
        // Whether `status` (a link's own, not followed) is of this regular file.
        bool Is(const std::optional<FileStatus>& status) const
        {
            return status && status->IsRegular() && Of(*status) == *this;
        }
        bool operator==(const Identity&) const = default;
    };

    struct Pair {
        // A bare name, in the record's own directory; otherwise an absolute path.
        std::string target;
        // A bare name HiddenName gave a temporary file of the target, beside it.
        std::string temporary;
        // The temporary file as it was written, before any rename.
        Identity written = {};

        bool operator==(const Pair&) const = default;
    };

    // Room for a volume set: two files per volume (the archive and its key
    // file) and the set's manifest.
    static constexpr std::size_t MaxPairs = 1024;
    static constexpr std::size_t MaxTargetLength = 4096;
    // No record of MaxPairs pairs of the longest names is longer.
    static constexpr std::size_t MaxSize = 10 + MaxPairs * (2 + MaxTargetLength + 2 + MaxEntryNameLength + 32) + 4;

    std::vector<Pair> pairs;  // the primary last

    std::vector<std::uint8_t> Encode() const;

    // The record in `bytes`, read from the file named `recordName`; nothing
    // unless it is well formed, of this version, its primary's record is
    // `recordName`, no target appears twice, and every temporary is a temporary
    // name of its target.
    static std::optional<CommitRecord> Decode(std::span<const std::uint8_t> bytes, std::string_view recordName);

    // Whether `bytes` start as a record of another version of the format, which
    // this one does not follow and leaves for the tool that wrote it.
    static bool OfAnotherVersion(std::span<const std::uint8_t> bytes);

    // The name of the record beside the primary target `name` (a bare name).
    static std::string NameFor(std::string_view name);
};

}  // namespace zelkor
