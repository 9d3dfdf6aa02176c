#include "reader/mount_list.h"

#include <algorithm>
#include <array>
#include <bit>
#include <thread>

#include "archive/archive_format.h"

namespace zelkor {

namespace {

// A candidate of a name hash: bits 0-29 the layer's position (highest
// priority first), bit 30 set for a hidden name, bit 31 in a run the last of
// it, in a slot "the candidates are a run".
constexpr std::uint32_t PositionBits = 0x3FFFFFFF;
constexpr std::uint32_t HiddenBit = 1u << 30;
constexpr std::uint32_t FlagBit = 1u << 31;
constexpr std::uint32_t EmptySlot = 0xFFFFFFFF;
constexpr std::uint64_t MaxEntries = 0xFFFFFFFF;

// Readers count themselves in one of these, picked by where their stack lies.
constexpr std::size_t Stripes = 8;

std::size_t StripeOfThisThread()
{
    int local = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&local) >> 12;
    return static_cast<std::size_t>((at * 0x9E3779B97F4A7C15ull) >> 61) % Stripes;
}

// Three-way comparison of two names as normalised bytes.
int CompareNormalized(std::string_view a, std::string_view b)
{
    const auto normal = [](char c) {
        return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c == '\\' ? '/' : c);
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

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

}  // namespace

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

struct MountList::Generation {
    struct alignas(64) Counter {
        std::atomic<std::uint64_t> readers{0};
    };
    std::array<Counter, Stripes> counters;
    // Written by the writer before the generation is published; null once the
    // index is freed and the generation free to be used again.
    std::atomic<const Index*> index{nullptr};

    std::uint64_t Readers() const
    {
        std::uint64_t sum = 0;
        for (const Counter& counter : counters)
            sum += counter.readers.load(std::memory_order_seq_cst);
        return sum;
    }
};

// Holds the published index for as long as it lives. The count goes up before
// the published pointer is read again: a writer that published another one in
// between either sees the count (and keeps the index) or is seen here (and the
// reader tries again), since all of these operations are sequentially
// consistent.
class MountList::Pin {
public:
    explicit Pin(const MountList& list) : stripe_(StripeOfThisThread())
    {
        for (;;) {
            Generation* generation = list.current_.load(std::memory_order_seq_cst);
            generation->counters[stripe_].readers.fetch_add(1, std::memory_order_seq_cst);
            if (list.current_.load(std::memory_order_seq_cst) == generation) {
                generation_ = generation;
                return;
            }
            generation->counters[stripe_].readers.fetch_sub(1, std::memory_order_release);
        }
    }
    ~Pin() { generation_->counters[stripe_].readers.fetch_sub(1, std::memory_order_release); }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    const Index& Get() const { return *generation_->index.load(std::memory_order_acquire); }

private:
    std::size_t stripe_;
    Generation* generation_ = nullptr;
};

MountList::MountList()
{
    generations_.push_back(std::make_unique<Generation>());
    generations_.back()->index.store(Build({}).release(), std::memory_order_relaxed);
    current_.store(generations_.back().get(), std::memory_order_seq_cst);
}

MountList::~MountList()
{
    for (const auto& generation : generations_)
        delete generation->index.load(std::memory_order_acquire);
}

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

MountList::Mounting MountList::Mount(Layer given)
{
    if (given.archive->EntryCount() > MaxEntries)
        return Mounting::TooManyEntries;
    auto layer = std::make_shared<Mounted>();
    layer->name = std::move(given.name);
    layer->priority = given.priority;
    layer->archive = given.archive;
    layer->owner = std::move(given.owner);
    layer->hidden.reserve(given.hidden.size());
    for (std::string& name : given.hidden) {
        const std::uint32_t hash = NameHash(name);
        layer->hidden.push_back({hash, std::move(name)});
    }

    const std::lock_guard lock(mutex_);
    const Index& now = *current_.load(std::memory_order_relaxed)->index.load(std::memory_order_relaxed);
    for (const auto& mounted : now.layers) {
        if (mounted->name == layer->name)
            return Mounting::NameTaken;
    }
    layer->order = ++mounts_;
    std::vector<std::shared_ptr<const Mounted>> layers = now.layers;
    const auto above = [](const std::shared_ptr<const Mounted>& a, const std::shared_ptr<const Mounted>& b) {
        return a->priority != b->priority ? a->priority > b->priority : a->order > b->order;
    };
    layers.insert(std::upper_bound(layers.begin(), layers.end(), layer, above), layer);
    Publish(Build(std::move(layers)), false);
    return Mounting::Mounted;
}

bool MountList::Unmount(std::string_view name)
{
    const std::lock_guard lock(mutex_);
    const Index& now = *current_.load(std::memory_order_relaxed)->index.load(std::memory_order_relaxed);
    std::vector<std::shared_ptr<const Mounted>> layers = now.layers;
    const auto named = std::find_if(layers.begin(), layers.end(),
                                    [&](const std::shared_ptr<const Mounted>& layer) { return layer->name == name; });
    if (named == layers.end())
        return false;
    layers.erase(named);
    // Once every older index is freed, the layers vector above is the last
    // holder of the layer besides the new index, which does not hold it.
    Publish(Build(std::move(layers)), true);
    return true;
}

void MountList::Publish(std::unique_ptr<Index> next, bool wait)
{
    Generation* free = nullptr;
    for (const auto& generation : generations_) {
        if (generation->index.load(std::memory_order_relaxed) == nullptr) {
            free = generation.get();
            break;
        }
    }
    if (!free) {
        generations_.push_back(std::make_unique<Generation>());
        free = generations_.back().get();
    }
    free->index.store(next.release(), std::memory_order_release);
    current_.store(free, std::memory_order_seq_cst);
    Reclaim(wait);
}

void MountList::Reclaim(bool wait)
{
    const Generation* current = current_.load(std::memory_order_relaxed);
    for (const auto& generation : generations_) {
        if (generation.get() == current)
            continue;
        const Index* index = generation->index.load(std::memory_order_relaxed);
        if (!index)
            continue;
        while (generation->Readers() != 0) {
            if (!wait)
                break;
            std::this_thread::yield();
        }
        if (generation->Readers() == 0) {
            generation->index.store(nullptr, std::memory_order_relaxed);
            delete index;
        }
    }
}

std::optional<MountList::Found> MountList::Find(std::string_view path) const
{
    const std::uint32_t hash = NameHash(path);
    const Pin pin(*this);
    return Resolve(pin.Get(), path, hash);
}

void MountList::List(std::string_view directory, bool recursive,
                     const std::function<bool(const Listed&)>& visit) const
{
    while (!directory.empty() && IsSeparator(directory.back()))
        directory.remove_suffix(1);
    const std::string prefix = directory.empty() ? std::string() : std::string(directory) + '/';
    const Pin pin(*this);
    const Tree& tree = TreeOf(pin.Get());
    // The names that start with the prefix lie together, from the first that
    // is not below it.
    auto name = std::lower_bound(tree.names.begin(), tree.names.end(), prefix, [](const Tree::Name& a, const std::string& b) {
        return CompareNormalized(a.path, b) < 0;
    });
    const auto below = [&](std::string_view path) {
        return path.size() >= prefix.size() && SameName(path.substr(0, prefix.size()), prefix);
    };
    for (; name != tree.names.end() && below(name->path); ++name) {
        const std::string_view rest = name->path.substr(prefix.size());
        const std::size_t separator =
            recursive ? std::string_view::npos
                      : static_cast<std::size_t>(std::find_if(rest.begin(), rest.end(), IsSeparator) - rest.begin());
        Listed listed;
        listed.nameOffset = prefix.size();
        if (separator == std::string_view::npos || separator == rest.size()) {
            listed.path = name->path;
            listed.tag = name->layer->owner.get();
            listed.archive = name->layer->archive;
            listed.index = name->index;
            if (recursive) {
                const std::size_t last = name->path.find_last_of("/\\");
                listed.nameOffset = last == std::string_view::npos ? 0 : last + 1;
            }
        } else {
            // A subdirectory, once: the names below it follow each other, and
            // the next name to list is the first after them.
            listed.directory = true;
            listed.path = name->path.substr(0, prefix.size() + separator);
            if (!visit(listed))
                return;
            const std::string_view inside = name->path.substr(0, prefix.size() + separator + 1);
            name = std::prev(std::partition_point(name, tree.names.end(), [&](const Tree::Name& other) {
                return other.path.size() >= inside.size() && SameName(other.path.substr(0, inside.size()), inside);
            }));
            continue;
        }
        if (!visit(listed))
            return;
    }
}

std::size_t MountList::Size() const
{
    const Pin pin(*this);
    return pin.Get().layers.size();
}

}  // namespace zelkor
