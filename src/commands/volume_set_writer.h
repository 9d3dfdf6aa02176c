#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_crypto.h"
#include "archive/archive_writer.h"
#include "archive/entry_identity.h"
#include "archive/set_manifest.h"
#include "output/output_guard.h"
#include "platform/named_path.h"

namespace zelkor {

// Writes what one pack command builds: an archive, or with a volume size a
// volume set, NAME.pak, NAME_001.pak, ... (each an archive with its own key
// file when the command builds key files) and its manifest NAME.pak.set.
//
// Entries go in the order they are added; a new volume starts when the next
// entry would take the current one past the volume size, unless the current
// one holds no entry yet (an entry larger than the size gets a volume of its
// own). A set has at most SetManifest::MaxVolumes volumes. Every volume's key
// material comes from the command's and the volume's number
// (KeyMaterial::ForVolume), so the key that encrypts an entry is the same
// whichever volume it lands in, and a key seed gives the same set every time.
//
// Close puts every file in place as one commit (JointCommit), the first
// volume's key file and archive last, with the guarantees of an archive and its
// key file: until then whatever stood at every path stays whole. The same
// commit retires the volumes of the set that stood there before and that this
// one no longer has (a set built again smaller, or as a lone archive): a file
// is removed only when it lies at one of this set's volume names and holds the
// very records the old manifest names (and a key file only when it is that
// volume's). Retired volumes are listed in the new manifest, so that a crash
// after the commit leaves them for the next build to remove.
//
// Without a volume size and without an old set at the path, it is exactly an
// ArchiveWriter. Used by one thread at a time.
class VolumeSetWriter {
public:
    enum class Added {
        Stored,
        NotStored,     // the format cannot hold the entry, or the set is full
        CannotCreate,  // its volume could not be created: FailedPath names it
        Changed,       // a streamed source changed since it was measured; nothing written
    };

    VolumeSetWriter() = default;
    ~VolumeSetWriter();
    VolumeSetWriter(const VolumeSetWriter&) = delete;
    VolumeSetWriter& operator=(const VolumeSetWriter&) = delete;

    // Starts the first volume (ArchiveWriter::Create), and with `volumeSize`
    // the manifest's temporary file; `material` null draws fresh key material.
    // False when a path cannot be created: FailedPath names it, and nothing at
    // any path has changed.
    bool Create(const NamedPath& archive, const NamedPath* keyFile, const KeyMaterial* material,
                std::optional<std::uint64_t> volumeSize);
    const std::string& FailedPath() const { return failedPath_; }

    // Before Create: a file written with the first volume and put in place in
    // the same commit (a patch's deletion list); see ArchiveWriter.
    void AddCompanion(const NamedPath& path) { companion_ = path; }
    void CompanionBytes(std::vector<std::uint8_t> bytes) { volumes_.front()->CompanionBytes(std::move(bytes)); }
    // After Create, for an archive alone: every entry added is kept
    // (ArchiveWriter::KeepEntries), so that a later build may copy them. The
    // entries of a set are not kept.
    void KeepEntries()
    {
        if (!IsSet())
            volumes_.front()->KeepEntries();
    }
    // The ArchiveIdentity of every entry added since Create, across the volumes.
    ArchiveIdentity Identity() const;

    // The files this command writes, replaces or may retire, by identity, so
    // that none is read as a source.
    std::vector<FileStatus> Outputs() const;
    // The key every entry is encrypted with, in whichever volume it lands.
    const ArchiveKey& Key() const { return volumes_.front()->Key(); }

    // Appends one file to the current volume, or to a new one (see above):
    // ArchiveWriter::AddFile, or AddStreamed for a file read from its stream.
    Added AddFile(const std::string& archivedPath, LoadedFile& file);
    // After NotStored: whether a volume size would have stored the entry (a
    // lone archive reached 4 GiB), and whether the set has every volume it may.
    bool Full() const { return full_; }
    bool SetFull() const { return setFull_; }

    // Puts every file in place (see above); throws ArchiveWriteError naming the
    // file that could not be written, and then nothing has changed.
    void Close();
    // Gives up everything Create started; nothing at any path changes.
    void Abandon();

    bool IsSet() const { return volumeSize_.has_value(); }
    std::size_t VolumeCount() const { return volumes_.size(); }
    const ArchiveWriter& Volume(std::size_t volume) const { return *volumes_[volume]; }
    const std::string& ManifestPath() const { return manifestPath_; }
    // Where volume `volume` of this command's set goes, and its key file
    // (nothing without key files), after Create.
    NamedPath VolumeArchive(std::size_t volume) const;
    std::optional<NamedPath> VolumeKeyFile(std::size_t volume, const NamedPath& archive) const;
    // After a successful Close of a set: the manifest as it was put in place.
    const std::optional<FileStatus>& WrittenManifest() const { return writtenManifest_; }

private:
    // Create's steps: the volumes of the set that stands at the path (from its
    // manifest, if any) that this one may retire; and the files at the set's
    // other volume and manifest paths, which are never read as sources.
    void FindEarlier();
    void NoteOutputs();

    // A volume of the set that stood at the path before, which this one may retire.
    struct Earlier {
        std::size_t number;
        SetManifest::Volume volume;
    };

    bool StartVolume();
    // The files of the earlier set that this one retires, as found now; they
    // are listed in `manifest` (with a set) and returned as paths to remove.
    std::vector<std::string> Retire(SetManifest* manifest) const;

    NamedPath archive_;
    std::optional<NamedPath> keyFile_;
    std::optional<NamedPath> companion_;
    EntryIdentity identity_;
    KeyMaterial material_;
    std::optional<std::uint64_t> volumeSize_;
    std::vector<std::unique_ptr<ArchiveWriter>> volumes_;
    std::string manifestPath_;
    std::unique_ptr<OutputGuard> manifest_;
    std::vector<Earlier> earlier_;
    bool oldManifest_ = false;  // an earlier set's manifest stands at manifestPath_
    std::vector<FileStatus> outputs_;
    std::string failedPath_;
    bool full_ = false;
    bool setFull_ = false;
    std::optional<FileStatus> writtenManifest_;
};

}  // namespace zelkor
