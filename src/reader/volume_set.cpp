#include "reader/volume_set.h"

#include "reader/file_source.h"

namespace zelkor {

VolumeSet::VolumeSet(SetVolumes volumes, std::pmr::memory_resource* memory)
    : volumes_(std::move(volumes)), memory_(memory), opened_(volumes_.Count(), memory)
{
    Volume(0);
}

VolumeSet::~VolumeSet()
{
    std::pmr::polymorphic_allocator<IndexedArchive> allocator(memory_);
    for (std::atomic<IndexedArchive*>& volume : opened_) {
        if (IndexedArchive* archive = volume.load(std::memory_order_acquire))
            allocator.delete_object(archive);
    }
}

const IndexedArchive& VolumeSet::Volume(std::size_t volume) const
{
    if (const IndexedArchive* archive = opened_[volume].load(std::memory_order_acquire))
        return *archive;
    auto [archiveSource, keySource] = volumes_.Open(volume);
    SetVolumes::Observer observer;
    std::pmr::polymorphic_allocator<IndexedArchive> allocator(memory_);
    IndexedArchive* fresh =
        allocator.new_object<IndexedArchive>(std::move(archiveSource), std::move(keySource), memory_, &observer);
    try {
        volumes_.Check(volume, observer, fresh->Reader().KeyHeader());
    } catch (...) {
        allocator.delete_object(fresh);
        throw;
    }
    IndexedArchive* expected = nullptr;
    if (opened_[volume].compare_exchange_strong(expected, fresh, std::memory_order_acq_rel, std::memory_order_acquire))
        return *fresh;
    // Another thread published its copy first.
    allocator.delete_object(fresh);
    return *expected;
}

std::unique_ptr<ReadableArchive> VolumeSet::OpenArchiveOrSet(const std::string& path, const std::string* keyPath)
{
    if (const std::optional<std::string> manifest = SetVolumes::ManifestFor(path))
        return std::make_unique<VolumeSet>(SetVolumes(*manifest, keyPath));
    return std::make_unique<IndexedArchive>(std::make_unique<FileSource>(path),
                                            keyPath ? std::make_unique<FileSource>(*keyPath) : nullptr);
}

void VolumeSet::OpenAll() const
{
    for (std::size_t volume = 0; volume < volumes_.Count(); ++volume)
        Volume(volume);
}

FileEntry VolumeSet::Fields(std::uint64_t index) const
{
    const std::size_t volume = volumes_.VolumeOf(index);
    return Volume(volume).Fields(index - volumes_.FirstIndex(volume));
}

std::optional<std::string_view> VolumeSet::TrustedName(std::uint64_t index, const FileEntry& fields) const
{
    const std::size_t volume = volumes_.VolumeOf(index);
    return Volume(volume).TrustedName(index - volumes_.FirstIndex(volume), fields);
}

std::optional<std::uint64_t> VolumeSet::Find(std::string_view path) const
{
    std::optional<std::uint64_t> untrusted;
    for (std::size_t volume = 0; volume < volumes_.Count(); ++volume) {
        const std::optional<IndexedArchive::Match> match = Volume(volume).Lookup(path);
        if (!match)
            continue;
        const std::uint64_t index = volumes_.FirstIndex(volume) + match->index;
        if (match->trusted)
            return index;
        if (!untrusted)
            untrusted = index;
    }
    return untrusted;
}

std::optional<VolumeSet::ContentStatus> VolumeSet::Read(std::uint64_t index, std::span<std::uint8_t> buffer,
                                                        FileEntry& fields) const
{
    const std::size_t volume = volumes_.VolumeOf(index);
    return Volume(volume).Read(index - volumes_.FirstIndex(volume), buffer, fields);
}

void VolumeSet::ReadRange(std::uint64_t index, const FileEntry& fields, std::uint64_t offset,
                          std::span<std::uint8_t> out) const
{
    const std::size_t volume = volumes_.VolumeOf(index);
    Volume(volume).ReadRange(index - volumes_.FirstIndex(volume), fields, offset, out);
}

std::string VolumeSet::Describe(std::uint64_t index, const FileEntry& fields) const
{
    const std::size_t volume = volumes_.VolumeOf(index);
    return Volume(volume).Describe(index - volumes_.FirstIndex(volume), fields) + ", entry " + std::to_string(index) +
           " of the set " + volumes_.ManifestPath();
}

void VolumeSet::VisitNameHashes(const std::function<void(std::uint32_t, std::uint64_t)>& visit) const
{
    for (std::size_t volume = 0; volume < volumes_.Count(); ++volume) {
        const std::uint64_t first = volumes_.FirstIndex(volume);
        Volume(volume).VisitNameHashes([&](std::uint32_t hash, std::uint64_t index) { visit(hash, first + index); });
    }
}

VolumeSet::NameMatch VolumeSet::MatchName(std::uint64_t index, std::uint32_t hash, std::string_view path) const
{
    const std::size_t volume = volumes_.VolumeOf(index);
    return Volume(volume).MatchName(index - volumes_.FirstIndex(volume), hash, path);
}

std::optional<std::string_view> VolumeSet::NameAt(std::uint64_t index) const
{
    const std::size_t volume = volumes_.VolumeOf(index);
    return Volume(volume).NameAt(index - volumes_.FirstIndex(volume));
}

std::size_t VolumeSet::MemoryUse() const
{
    std::size_t use = opened_.capacity() * sizeof(std::atomic<IndexedArchive*>);
    for (const std::atomic<IndexedArchive*>& volume : opened_) {
        if (const IndexedArchive* archive = volume.load(std::memory_order_acquire))
            use += archive->MemoryUse();
    }
    return use;
}

}  // namespace zelkor
