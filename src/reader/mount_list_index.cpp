#include "reader/mount_list.h"

#include <algorithm>

#include "archive/archive_format.h"
#include "reader/mount_list_parts.h"

namespace zelkor {

// The index of a mount list, built once per change and read by every lookup,
// and the merged tree that lists read.

using namespace mount_list_parts;

std::unique_ptr<MountList::Index> MountList::Build(std::vector<std::shared_ptr<const Mounted>> layers)
{
    struct Entry {
        std::uint32_t hash;
        std::uint32_t word;
        std::uint32_t value;
    };
    std::vector<Entry> entries;
    for (std::uint32_t position = 0; position < layers.size(); ++position) {
        const Mounted& layer = *layers[position];
        layer.archive->VisitNameHashes([&](std::uint32_t hash, std::uint64_t index) {
            entries.push_back({hash, position, static_cast<std::uint32_t>(index)});
        });
        for (std::uint32_t i = 0; i < layer.hidden.size(); ++i)
            entries.push_back({layer.hidden[i].hash, position | HiddenBit, i});
    }
    // A hash's candidates in the order a lookup weighs them: by layer, a
    // layer's entries in archive order before its hidden names.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.hash != b.hash)
            return a.hash < b.hash;
        if (a.word != b.word)
            return (a.word & PositionBits) != (b.word & PositionBits) ? (a.word & PositionBits) < (b.word & PositionBits)
                                                                       : a.word < b.word;
        return a.value < b.value;
    });

    auto index = std::make_unique<Index>();
    index->layers = std::move(layers);
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < entries.size(); ++i)
        distinct += i == 0 || entries[i].hash != entries[i - 1].hash;
    // At most three quarters full, so that a probe ends soon.
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(16, distinct + distinct / 3 + 1));
    index->table.assign(capacity, Slot{0, EmptySlot, 0});
    index->shift = 32 - static_cast<unsigned>(std::countr_zero(capacity));
    const std::size_t mask = capacity - 1;
    for (std::size_t first = 0; first < entries.size();) {
        std::size_t end = first + 1;
        while (end < entries.size() && entries[end].hash == entries[first].hash)
            ++end;
        Slot slot{entries[first].hash, entries[first].word, entries[first].value};
        if (end - first > 1) {
            slot.word = FlagBit;
            slot.value = static_cast<std::uint32_t>(index->runs.size());
            for (std::size_t i = first; i < end; ++i)
                index->runs.push_back({entries[i].word | (i + 1 == end ? FlagBit : 0), entries[i].value});
        }
        std::size_t bucket = index->Bucket(slot.hash);
        while (index->table[bucket].word != EmptySlot)
            bucket = (bucket + 1) & mask;
        index->table[bucket] = slot;
        first = end;
    }
    return index;
}

std::optional<MountList::Found> MountList::Resolve(const Index& index, std::string_view path, std::uint32_t hash,
                                                   const Mounted** layerFound)
{
    const std::size_t mask = index.table.size() - 1;
    const Slot* slot = nullptr;
    for (std::size_t bucket = index.Bucket(hash);; bucket = (bucket + 1) & mask) {
        const Slot& at = index.table[bucket];
        if (at.word == EmptySlot)
            return std::nullopt;
        if (at.hash == hash) {
            slot = &at;
            break;
        }
    }
    const Index::Candidate single{slot->word | FlagBit, slot->value};
    const Index::Candidate* candidate = slot->word == FlagBit ? &index.runs[slot->value] : &single;

    // The candidates of one layer at a time: the first whose name is the path,
    // else the first whose name cannot be trusted (Find's rule); else, when one
    // of the layer's hidden names is the path, nothing below counts.
    for (bool more = true; more;) {
        const std::uint32_t position = candidate->word & PositionBits;
        const Mounted& layer = *index.layers[position];
        std::optional<std::uint64_t> untrusted;
        bool hidden = false;
        for (;;) {
            const Index::Candidate here = *candidate;
            more = !(here.word & FlagBit);
            if (here.word & HiddenBit) {
                hidden = hidden || SameName(layer.hidden[here.value].name, path);
            } else {
                switch (layer.archive->MatchName(here.value, hash, path)) {
                case ReadableArchive::NameMatch::Same:
                    if (layerFound)
                        *layerFound = &layer;
                    return Found{layer.owner.get(), layer.archive, here.value};
                case ReadableArchive::NameMatch::Untrusted:
                    if (!untrusted)
                        untrusted = here.value;
                    break;
                case ReadableArchive::NameMatch::Other:
                    break;
                }
            }
            if (!more)
                break;
            ++candidate;
            if ((candidate->word & PositionBits) != position)
                break;
        }
        if (untrusted) {
            if (layerFound)
                *layerFound = &layer;
            return Found{layer.owner.get(), layer.archive, *untrusted};
        }
        if (hidden)
            return std::nullopt;
    }
    return std::nullopt;
}

const MountList::Tree& MountList::TreeOf(const Index& index)
{
    if (const Tree* tree = index.tree.load(std::memory_order_acquire))
        return *tree;
    struct Candidate {
        std::string_view path;
        std::uint32_t hash;
        std::uint32_t position;
        std::uint64_t index;
    };
    std::vector<Candidate> candidates;
    for (std::uint32_t position = 0; position < index.layers.size(); ++position) {
        const ReadableArchive& archive = *index.layers[position]->archive;
        if (!archive.HasNames())
            continue;
        archive.VisitNameHashes([&](std::uint32_t hash, std::uint64_t entry) {
            const std::optional<std::string_view> name = archive.NameAt(entry);
            if (name && NameHash(*name) == hash)
                candidates.push_back({*name, hash, position, entry});
        });
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        const int order = CompareNormalized(a.path, b.path);
        if (order != 0)
            return order < 0;
        return a.position != b.position ? a.position < b.position : a.index < b.index;
    });
    auto fresh = std::make_unique<Tree>();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (i > 0 && SameName(candidates[i].path, candidates[i - 1].path))
            continue;
        // What a lookup of the name gives, which a deletion above may hide or
        // an untrusted name above may answer for.
        const Mounted* layer = nullptr;
        if (const std::optional<Found> found = Resolve(index, candidates[i].path, candidates[i].hash, &layer))
            fresh->names.push_back({candidates[i].path, layer, found->index});
    }
    const Tree* expected = nullptr;
    if (index.tree.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel, std::memory_order_acquire))
        return *fresh.release();
    // Another thread published its tree first.
    return *expected;
}


}  // namespace zelkor
