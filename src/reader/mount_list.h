#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/readable_archive.h"

namespace zelkor {

// Several archives read as one tree, as a game reads its base, its DLC and its
// patches. Each layer is an archive (or anything that reads as one) mounted
// with a priority; a path is looked up from the highest priority down, among
// equal priorities the layer mounted last first, and the first layer that
// answers to it gives the entry by its own rule (ReadableArchive::Find). A
// layer's hidden names (a patch's deletions) hide that name in every layer
// below it; the layer's own entries stay above its deletions.
//
// Threads. Find, List and Size may run on any number of threads at once, and
// while other threads Mount and Unmount, with no lock on their path. Every
// change builds a new immutable index of all layers and publishes it through an
// atomic pointer. A reader pins the index it uses with a counter in one of
// several cache lines (so that threads do not contend on one), and checks after
// counting itself that the index is still the published one; a writer that has
// published a new index frees an older one only once its counters read zero.
// The counters live in generations that stay with the list and are reused, so
// a late reader never counts itself in freed memory. Mount and Unmount take a
// mutex among themselves. Unmount waits until no reader holds an index that
// holds the layer, then releases it: when it returns, the archive is closed.
// The destructor must not run while a reader or writer does.
//
// Lookups cost one name hash and one probe of a hash table of every layer's
// name hashes (16 to 32 bytes per distinct name hash), then the name check in
// the layer that holds the hash: no search in each layer.
class MountList {
public:
    struct Layer {
        std::string name;  // what Unmount takes; unique in the list
        int priority = 0;  // higher wins
        const ReadableArchive* archive = nullptr;
        // Keeps `archive` alive; its pointer is the tag that Find gives back.
        std::shared_ptr<const void> owner;
        std::vector<std::string> hidden;  // names hidden in the layers below
    };

    enum class Mounting {
        Mounted,
        NameTaken,        // a layer of that name is mounted already
        TooManyEntries,   // more entries than the index can number (2^32 - 1)
    };

    struct Found {
        const void* tag = nullptr;
        const ReadableArchive* archive = nullptr;
        std::uint64_t index = 0;
    };

    // One name of the merged tree. `path` lives while the visit runs.
    struct Listed {
        std::string_view path;      // the whole path, spelled as its layer spells it
        std::size_t nameOffset = 0; // where its last component starts in `path`
        bool directory = false;     // a directory: no tag, archive or index
        const void* tag = nullptr;
        const ReadableArchive* archive = nullptr;
        std::uint64_t index = 0;
    };

    MountList();
    ~MountList();
    MountList(const MountList&) = delete;
    MountList& operator=(const MountList&) = delete;

    // Mounts `layer`. Builds the new index first, so that a failure (an
    // exception from the layer's archive) changes nothing.
    Mounting Mount(Layer layer);

    // Unmounts the layer of that name, waits until no reader holds it, and
    // releases it. False when no layer has that name.
    bool Unmount(std::string_view name);

    // The entry `path` names in the merged tree; nothing when no layer answers
    // to it or a deletion above hides it.
    std::optional<Found> Find(std::string_view path) const;

    // The names under `directory` (case and separators as the name hash sees
    // them; empty for the root), ordered by their normalised bytes, each with
    // the entry it finds. Without `recursive`, the direct children: files, and
    // each subdirectory once; with it, every file at any depth and no
    // directory. Names come from the layers' key files (a layer without one
    // lists nothing) and only names that hash to their entry's name hash are
    // listed. `visit` returns false to stop. It must not Unmount from this
    // list: Unmount would wait for it.
    void List(std::string_view directory, bool recursive, const std::function<bool(const Listed&)>& visit) const;

    // The number of layers mounted.
    std::size_t Size() const;

private:
    struct Mounted;
    struct Slot;
    struct Index;
    struct Tree;
    struct Generation;
    class Pin;

    static std::unique_ptr<Index> Build(std::vector<std::shared_ptr<const Mounted>> layers);
    static std::optional<Found> Resolve(const Index& index, std::string_view path, std::uint32_t hash,
                                        const Mounted** layer = nullptr);
    static const Tree& TreeOf(const Index& index);

    // Under mutex_: publishes `next`, then frees what no reader holds; with
    // `wait`, waits until that is every index but the published one.
    void Publish(std::unique_ptr<Index> next, bool wait);
    void Reclaim(bool wait);

    std::atomic<Generation*> current_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Generation>> generations_;  // under mutex_
    std::uint64_t mounts_ = 0;                               // under mutex_: the order of mounting
};

}  // namespace zelkor
