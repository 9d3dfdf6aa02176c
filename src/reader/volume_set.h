#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reader/indexed_archive.h"
#include "reader/readable_archive.h"
#include "reader/set_volumes.h"

namespace zelkor {

// The volumes of a set read as one archive, as a game reads it: entries
// numbered across the set in volume order, and lookups by path that span it.
// The first volume is opened with the set; every other one when an entry of
// it is first asked for (or a lookup passes through it), and then checked
// against the manifest (SetVolumes) before anything of it is used.
//
// Lookups follow IndexedArchive's rule over the whole set in its order: the
// first entry whose trusted name equals the path, failing that the first whose
// name cannot be trusted. So a lookup opens the volumes in order until a
// trusted match, and every volume for a path that is not there.
//
// Every call is const and safe on any number of threads at once. A volume is
// opened by whichever thread needs it first and published with an atomic
// pointer; a thread that opened it at the same moment drops its own copy. A
// volume that cannot be opened, or is not the manifest's, throws
// ArchiveFormatError (SourceError when it cannot be read) at each call that
// needs it, naming the volume.
class VolumeSet : public ReadableArchive {
public:
    // Opens the first volume. `memory` serves the volumes' indexes and names
    // and must outlive the set.
    VolumeSet(SetVolumes volumes, std::pmr::memory_resource* memory = std::pmr::get_default_resource());
    ~VolumeSet() override;
    VolumeSet(const VolumeSet&) = delete;
    VolumeSet& operator=(const VolumeSet&) = delete;

    // The archive or set that `path` names (SetVolumes::ManifestFor), with the
    // key file at `keyPath` (a set's first volume's; null for none): a
    // VolumeSet, or an IndexedArchive.
    static std::unique_ptr<ReadableArchive> OpenArchiveOrSet(const std::string& path, const std::string* keyPath);

    std::size_t VolumeCount() const { return volumes_.Count(); }
    // Opens and checks every volume not opened yet.
    void OpenAll() const;

    std::uint64_t EntryCount() const override { return volumes_.EntryCount(); }
    bool HasNames() const override { return volumes_.HasKeyFiles(); }
    FileEntry Fields(std::uint64_t index) const override;
    std::optional<std::string_view> TrustedName(std::uint64_t index, const FileEntry& fields) const override;
    std::optional<std::uint64_t> Find(std::string_view path) const override;
    std::optional<ContentStatus> Read(std::uint64_t index, std::span<std::uint8_t> buffer,
                                      FileEntry& fields) const override;
    void ReadRange(std::uint64_t index, const FileEntry& fields, std::uint64_t offset,
                   std::span<std::uint8_t> out) const override;
    // "game_002.pak: entry 3 (FileEntry at offset 1234), entry 120 of the set game.pak.set"
    std::string Describe(std::uint64_t index, const FileEntry& fields) const override;
    std::size_t MemoryUse() const override;
    // The volumes' own, with indexes across the set; each opens every volume.
    void VisitNameHashes(const std::function<void(std::uint32_t, std::uint64_t)>& visit) const override;
    NameMatch MatchName(std::uint64_t index, std::uint32_t hash, std::string_view path) const override;
    std::optional<std::string_view> NameAt(std::uint64_t index) const override;

private:
    // Volume `volume`, opened when first needed.
    const IndexedArchive& Volume(std::size_t volume) const;

    SetVolumes volumes_;
    std::pmr::memory_resource* memory_;
    mutable std::pmr::vector<std::atomic<IndexedArchive*>> opened_;
};

}  // namespace zelkor
