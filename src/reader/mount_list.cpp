#include "reader/mount_list.h"

#include <algorithm>
#include <array>
#include <bit>
#include <thread>

#include "archive/archive_format.h"
#include "reader/mount_list_parts.h"

namespace zelkor {

using namespace mount_list_parts;

namespace {

// Readers count themselves in one of these, picked by where their stack lies.
constexpr std::size_t Stripes = 8;

std::size_t StripeOfThisThread()
{
    int local = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&local) >> 12;
    return static_cast<std::size_t>((at * 0x9E3779B97F4A7C15ull) >> 61) % Stripes;
}

}  // namespace

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