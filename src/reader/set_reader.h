#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reader/archive_reader.h"
#include "reader/set_volumes.h"

namespace zelkor {

// An archive, or every volume of a set, read as one archive with ArchiveReader's
// calls and its memory that does not grow with the number of entries: walks
// go through the volumes in order, entries are numbered across the set, and
// each entry's Position names its volume. A lone archive is a set of one volume
// without a manifest.
//
// A set's volumes are all opened, checked and compared with the manifest
// (SetVolumes) when this is made, so that a set with a volume missing, cut
// short or from another build is refused before anything is printed; the
// error names the volume.
//
// Every entry of a set is encrypted with one key and IV, each volume holding
// its own shares of them; Key gives it. Const calls other than walks may run
// on several threads at once; a walk serves one thread.
class SetReader {
public:
    // The archive at `archivePath` alone, with the key file at `keyPath` (null
    // for none); throws as ArchiveReader does.
    SetReader(const std::string& archivePath, const std::string* keyPath);
    // Every volume of `volumes`.
    explicit SetReader(SetVolumes volumes);
    SetReader(const SetReader&) = delete;
    SetReader& operator=(const SetReader&) = delete;

    // The set's volumes; null for a lone archive.
    const SetVolumes* Volumes() const { return volumes_ ? &*volumes_ : nullptr; }
    std::size_t VolumeCount() const { return readers_.size(); }
    const ArchiveReader& Volume(std::size_t volume) const { return *readers_[volume]; }
    std::uint64_t FirstIndex(std::size_t volume) const { return firsts_[volume]; }

    std::uint64_t EntryCount() const { return firsts_.back(); }
    // The bytes of every volume.
    std::uint64_t ArchiveSize() const { return size_; }
    const ArchiveKey& Key() const { return readers_.front()->Key(); }

    // The entries of every volume in order, as ArchiveReader::Walk gives them,
    // with positions whose index counts across the set.
    class Walk {
    public:
        bool Next(ArchiveReader::Entry& entry);

    private:
        friend class SetReader;
        Walk(const SetReader& reader, bool names) : reader_(&reader), names_(names) {}

        const SetReader* reader_;
        bool names_;
        std::size_t volume_ = 0;
        std::optional<ArchiveReader::Walk> walk_;
    };
    Walk Entries() const { return Walk(*this, true); }
    Walk Records() const { return Walk(*this, false); }

    // As ArchiveReader's, for an entry a walk of this reader gave.
    ArchiveReader::Entry ReadEntry(const ArchiveReader::Position& position) const;
    ArchiveReader::ContentStatus ReadContent(const ArchiveReader::Entry& entry, std::vector<std::uint8_t>& content) const;
    ArchiveReader::ContentStatus ReadContent(const ArchiveReader::Entry& entry, std::vector<std::uint8_t>& content,
                                             const ArchiveKey& key) const;

private:
    // `entry` as its volume's reader knows it.
    static ArchiveReader::Position Local(const ArchiveReader::Position& position, std::uint64_t first);

    std::optional<SetVolumes> volumes_;
    std::vector<std::unique_ptr<ArchiveReader>> readers_;
    std::vector<std::uint64_t> firsts_;  // one more than there are volumes
    std::uint64_t size_ = 0;
};

}  // namespace zelkor
