#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace zelkor {

// The record of a commit that puts several files in place as one (see
// JointCommit): which temporary file goes to which target, in the order of the
// renames. It is written beside the last target, the primary, as
// ".NAME.zelkor-commit". The layout is in docs/format.md.
//
// Decode trusts nothing: it refuses every record that is not well formed, and
// every one that could make a rename reach anything but a target it names from
// a temporary name of that target beside it.
class CommitRecord {
public:
    struct Pair {
        // A bare name, in the record's own directory; otherwise an absolute path.
        std::string target;
        // A bare name HiddenName gave a temporary file of the target, beside it.
        std::string temporary;

        bool operator==(const Pair&) const = default;
    };

    // Room for a volume set: two files per volume (the archive and its key
    // file) and the set's manifest.
    static constexpr std::size_t MaxPairs = 1024;
    static constexpr std::size_t MaxTargetLength = 4096;
    // No record of MaxPairs pairs of the longest names is longer.
    static constexpr std::size_t MaxSize = 10 + MaxPairs * (2 + MaxTargetLength + 2 + MaxEntryNameLength) + 4;

    std::vector<Pair> pairs;  // the primary last

    std::vector<std::uint8_t> Encode() const;

    // The record in `bytes`, read from the file named `recordName`; nothing
    // unless it is well formed, its primary's record is `recordName`, no target
    // appears twice, and every temporary is a temporary name of its target.
    static std::optional<CommitRecord> Decode(std::span<const std::uint8_t> bytes, std::string_view recordName);

    // The name of the record beside the primary target `name` (a bare name).
    static std::string NameFor(std::string_view name);
};

}  // namespace zelkor
