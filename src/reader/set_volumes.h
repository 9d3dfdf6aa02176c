#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/records_digest.h"
#include "archive/set_manifest.h"
#include "reader/archive_reader.h"
#include "reader/byte_source.h"

namespace zelkor {

// A volume set as its manifest names it: where each volume and its key file
// lie, where each volume's entries fall in the set's order, and the check that
// a volume opened is the one the manifest names. The manifest is read and
// checked when this is made; no volume is opened until asked for.
//
// The manifest and the volumes come from files beside each other, or from a
// caller's own I/O (an Opener): the checks are the same either way.
//
// A volume is told apart three ways, each named in the message by its number
// and file: missing (no file at its name), cut short or grown (a size other
// than the manifest's, found as soon as it is opened), or of another build (its
// header and records do not give the manifest's digest and count, found as its
// structure is checked). Each is an ArchiveFormatError: the set as a whole
// cannot be trusted. An Opener that cannot give a volume throws what it
// likes (a SourceError, say).
//
// Const calls are safe on any number of threads at once.
class SetVolumes {
public:
    // A volume's archive and its key file (null without key files).
    using Sources = std::pair<std::unique_ptr<ByteSource>, std::unique_ptr<ByteSource>>;
    // Gives volume `volume` of `set` (its names are set.ArchivePath(volume)
    // and set.KeyPath(volume)). Called from any thread, also for one volume
    // on several at once.
    using Opener = std::function<Sources(const SetVolumes& set, std::size_t volume)>;

    // Sees what the reader checks of one volume, for Check.
    class Observer : public ArchiveReader::Visitor {
    public:
        void Header(const ArchiveHeader& header) override { digest_.Header(header); }
        void Visit(const ArchiveReader::Position&, const FileEntry& fields) override
        {
            digest_.Entry(fields);
            ++entries_;
        }
        std::uint64_t Entries() const { return entries_; }
        std::uint64_t Hash() const { return digest_.Value(); }

    private:
        RecordsDigest digest_;
        std::uint64_t entries_ = 0;
    };

    // Reads the manifest at `manifestPath`; `firstKey` is the first volume's
    // key file, from which the others' are named (SetManifest::VolumeKeyPath),
    // or null to read the set without key files. Throws ArchiveFormatError for
    // a manifest that is not one, or (with the cause ForeignKeyFile) for a key
    // file given for a set built without them or none for one built with
    // them; SourceError when it cannot be read.
    SetVolumes(const std::string& manifestPath, const std::string* firstKey);

    // Reads the manifest from `manifest`, whose Name() names it in messages
    // (and, by its directory, the volumes: a name "data/game.pak.set" gives
    // "data/game_001.pak"); `open` gives the volumes. With `keyFiles`, the
    // first volume's key file is named `firstKey`, or, when that is null, the
    // first volume's name followed by KeyFileSuffix, and the others after it.
    // Throws as the constructor above does, the manifest's file name
    // excepted, which a source does not have.
    SetVolumes(const ByteSource& manifest, bool keyFiles, const std::string* firstKey, Opener open);

    // The manifest that `path`, given to a reader, stands for: the path itself
    // when it holds a manifest (by its magic number), the path followed by
    // SetManifest::Suffix when that exists; nothing for a lone archive.
    static std::optional<std::string> ManifestFor(const std::string& path);
    // The first volume of the set whose manifest is `manifestPath` (a commit
    // of the set is recorded beside it), or `path` itself when it names no
    // manifest by its suffix.
    static std::string FirstVolumeOf(const std::string& path);

    const std::string& ManifestPath() const { return manifestPath_; }
    const SetManifest& Manifest() const { return manifest_; }
    std::size_t Count() const { return manifest_.volumes.size(); }
    bool HasKeyFiles() const { return !keyPaths_.empty(); }

    const std::string& ArchivePath(std::size_t volume) const { return archivePaths_[volume]; }
    // Null without key files.
    const std::string* KeyPath(std::size_t volume) const { return keyPaths_.empty() ? nullptr : &keyPaths_[volume]; }

    // The set's entries, and where a volume's first entry falls among them.
    std::uint64_t EntryCount() const { return firsts_.back(); }
    std::uint64_t FirstIndex(std::size_t volume) const { return firsts_[volume]; }
    // The volume that holds entry `index` (below EntryCount()).
    std::size_t VolumeOf(std::uint64_t index) const;

    // The sources of volume `volume` from the opener: its archive, checked for
    // the size the manifest gives, and its key file (null without; one that
    // the opener did not give in a set with key files is missing).
    Sources Open(std::size_t volume) const;
    // Throws unless what `observer` saw of the volume, and the header of its
    // key file, are what the manifest says.
    void Check(std::size_t volume, const Observer& observer, const std::optional<KeyFileHeader>& keyFile) const;

    // "game.pak.set: volume 2 (game_002.pak)", for messages.
    std::string Name(std::size_t volume) const;

private:
    // Reads and decodes the manifest; the volumes are named by Place.
    SetVolumes(const ByteSource& manifest, SetManifest::NameCheck check, Opener open);
    // Names the volumes and their key files (`firstKey`: the first one's;
    // null without key files), and counts their entries.
    void Place(const std::string* firstKey);
    // Throws unless `archive` has the size the manifest gives volume `volume`.
    void CheckSize(std::size_t volume, const ByteSource& archive) const;
    // The files beside the manifest.
    static Sources OpenFiles(const SetVolumes& set, std::size_t volume);

    Opener open_;
    std::string manifestPath_;
    SetManifest manifest_;
    std::vector<std::string> archivePaths_;
    std::vector<std::string> keyPaths_;
    std::vector<std::uint64_t> firsts_;  // one more than there are volumes
};

}  // namespace zelkor
