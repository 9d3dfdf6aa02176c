#pragma once

// The parts of MountList that its index and its lists share: the layout of
// the index, the mounted layers, and how names compare.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_format.h"
#include "reader/mount_list.h"

namespace zelkor {

namespace mount_list_parts {

// A candidate of a name hash: bits 0-29 the layer's position (highest
// priority first), bit 30 set for a hidden name, bit 31 in a run the last of
// it, in a slot "the candidates are a run".
constexpr std::uint32_t PositionBits = 0x3FFFFFFF;
constexpr std::uint32_t HiddenBit = 1u << 30;
constexpr std::uint32_t FlagBit = 1u << 31;
constexpr std::uint32_t EmptySlot = 0xFFFFFFFF;
constexpr std::uint64_t MaxEntries = 0xFFFFFFFF;

// Three-way comparison of two names as normalised bytes.
inline int CompareNormalized(std::string_view a, std::string_view b)
{
    const auto normal = [](char c) {
        return static_cast<unsigned char>(NormalNameByte(c));
    };
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = normal(a[i]);
        const unsigned char y = normal(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

inline bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}
}  // namespace mount_list_parts

struct MountList::Mounted {
    struct Hidden {
        std::uint32_t hash;
        std::string name;
    };

    std::string name;
    int priority = 0;
    std::uint64_t order = 0;  // of mounting: among equal priorities the later wins
    const ReadableArchive* archive = nullptr;
    std::shared_ptr<const void> owner;
    std::vector<Hidden> hidden;
};

struct MountList::Slot {
    std::uint32_t hash;
    std::uint32_t word;   // EmptySlot, one candidate, or FlagBit: a run
    std::uint32_t value;  // the candidate's entry or hidden name; a run's start
};

// The merged tree's names, built at the first List of an index.
struct MountList::Tree {
    struct Name {
        std::string_view path;
        const Mounted* layer;
        std::uint64_t index;
    };
    std::vector<Name> names;  // ordered by their normalised bytes
};

struct MountList::Index {
    struct Candidate {
        std::uint32_t word;
        std::uint32_t value;
    };

    std::vector<std::shared_ptr<const Mounted>> layers;  // highest priority first
    std::vector<Slot> table;                             // open addressing
    unsigned shift = 32;                                 // bucket = mixed hash >> shift
    std::vector<Candidate> runs;                         // hashes with several candidates
    mutable std::atomic<const Tree*> tree{nullptr};

    ~Index() { delete tree.load(std::memory_order_acquire); }

    std::size_t Bucket(std::uint32_t hash) const
    {
        return shift >= 32 ? 0 : static_cast<std::size_t>((hash * 0x9E3779B1u) >> shift);
    }
};

}  // namespace zelkor
