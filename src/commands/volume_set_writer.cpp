#include "commands/volume_set_writer.h"

#include "archive/archive_write_error.h"
#include "output/joint_commit.h"
#include "platform/file_system.h"
#include "reader/archive_reader.h"
#include "reader/file_source.h"
#include "reader/set_volumes.h"

namespace zelkor {

namespace {

// The manifest at `path`, when one stands there that decodes (and so names the
// file it stands beside as its first volume).
std::optional<SetManifest> ReadManifest(const std::string& path)
{
    File file = File::OpenRegular(path, OpenFlags::Read);
    if (!file.IsOpen())
        return std::nullopt;
    std::vector<std::uint8_t> bytes(SetManifest::MaxSize + 1);
    const std::optional<std::size_t> got = file.ReadAt(0, bytes.data(), bytes.size());
    if (!got)
        return std::nullopt;
    bytes.resize(*got);
    try {
        return SetManifest::Decode(bytes, path);
    } catch (const std::exception&) {
        return std::nullopt;  // not a manifest of ours: left alone
    }
}

// Whether the archive at `path` holds exactly the records `volume` names.
bool HoldsRecords(const std::string& path, const SetManifest::Volume& volume)
{
    try {
        SetVolumes::Observer observer;
        const ArchiveReader reader(std::make_unique<FileSource>(path), nullptr, &observer);
        return reader.ArchiveSize() == volume.size && observer.Entries() == volume.entries &&
               observer.Hash() == volume.recordsHash;
    } catch (const std::exception&) {
        return false;
    }
}

// Whether the key file at `keyPath` is the one of the archive at `archivePath`
// that a manifest knows by `keyFileHash` (0: the volume had none).
bool KeyFileOf(const std::string& archivePath, const std::string& keyPath, std::uint64_t keyFileHash)
{
    if (keyFileHash == 0)
        return false;
    try {
        const ArchiveReader reader(std::make_unique<FileSource>(archivePath), std::make_unique<FileSource>(keyPath));
        return RecordsDigest::KeyFile(*reader.KeyHeader()) == keyFileHash;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

VolumeSetWriter::~VolumeSetWriter() = default;

NamedPath VolumeSetWriter::VolumeArchive(std::size_t volume) const
{
    return NamedPath(SetManifest::VolumePath(archive_.path, volume), SetManifest::VolumePath(archive_.shown, volume));
}

std::optional<NamedPath> VolumeSetWriter::VolumeKeyFile(std::size_t volume, const NamedPath& archive) const
{
    if (!keyFile_)
        return std::nullopt;
    return NamedPath(SetManifest::VolumeKeyPath(archive_.path, keyFile_->path, archive.path, volume),
                     SetManifest::VolumeKeyPath(archive_.shown, keyFile_->shown, archive.shown, volume));
}

bool VolumeSetWriter::Create(const NamedPath& archive, const NamedPath* keyFile, const KeyMaterial* material,
                             std::optional<std::uint64_t> volumeSize)
{
    Abandon();
    volumes_.clear();
    failedPath_.clear();
    full_ = setFull_ = false;
    writtenManifest_.reset();
    archive_ = archive;
    keyFile_ = keyFile ? std::optional(*keyFile) : std::nullopt;
    volumeSize_ = volumeSize;
    PrepareCrypto();
    // Key material first: if the system's random source fails, the exception
    // leaves before any file has been touched.
    material_ = material ? *material : KeyMaterial::Random();
    manifestPath_ = SetManifest::PathFor(archive.path);

    identity_ = EntryIdentity();
    auto first = std::make_unique<ArchiveWriter>();
    if (companion_)
        first->AddCompanion(*companion_);
    if (!first->Create(archive, keyFile, material_)) {
        failedPath_ = first->FailedPath();
        return false;
    }
    volumes_.push_back(std::move(first));

    FindEarlier();

    if (volumeSize_) {
        manifest_ = std::make_unique<OutputGuard>(manifestPath_, OutputGuard::Options{.lock = true, .sync = true});
        if (!manifest_->Open()) {
            failedPath_ = archive.shown + std::string(SetManifest::Suffix);
            Abandon();
            return false;
        }
    }
    NoteOutputs();
    return true;
}

void VolumeSetWriter::FindEarlier()
{
    // The set that stands here (its commit completed by the Create above), and
    // which of its volumes this one may retire.
    earlier_.clear();
    oldManifest_ = false;
    if (const std::optional<SetManifest> old = ReadManifest(manifestPath_)) {
        oldManifest_ = true;
        for (const auto* list : {&old->volumes, &old->retired}) {
            for (const SetManifest::Volume& volume : *list) {
                for (std::size_t number = 1; number < SetManifest::MaxVolumes; ++number) {
                    if (NamePart(VolumeArchive(number).path) == volume.name)
                        earlier_.push_back({number, volume});
                }
            }
        }
    }
}

void VolumeSetWriter::NoteOutputs()
{
    outputs_.clear();
    if (volumeSize_ || oldManifest_) {
        for (std::size_t number = 1; number < SetManifest::MaxVolumes; ++number) {
            const NamedPath volume = VolumeArchive(number);
            for (const std::string& path : {volume.path, VolumeKeyFile(number, volume).value_or(volume).path}) {
                if (const std::optional<FileStatus> status = StatusOf(path))
                    outputs_.push_back(*status);
            }
        }
        if (const std::optional<FileStatus> status = StatusOf(manifestPath_))
            outputs_.push_back(*status);
        if (manifest_) {
            if (const std::optional<FileStatus> status = manifest_->Status())
                outputs_.push_back(*status);
        }
    }
}

std::vector<FileStatus> VolumeSetWriter::Outputs() const
{
    std::vector<FileStatus> outputs = volumes_.front()->Outputs();
    outputs.insert(outputs.end(), outputs_.begin(), outputs_.end());
    return outputs;
}

bool VolumeSetWriter::StartVolume()
{
    const std::size_t number = volumes_.size();
    // The finished volume is flushed and closed now, so that a set keeps only
    // its locks open, not every volume's files. The first volume's companion
    // waits for its bytes.
    volumes_.back()->Seal(false);
    const NamedPath archive = VolumeArchive(number);
    const std::optional<NamedPath> keyFile = VolumeKeyFile(number, archive);
    auto volume = std::make_unique<ArchiveWriter>();
    // Without key files every volume's archive shares are the key itself.
    const KeyMaterial material = keyFile ? material_.ForVolume(static_cast<std::uint32_t>(number)) : material_;
    if (!volume->Create(archive, keyFile ? &*keyFile : nullptr, material)) {
        failedPath_ = volume->FailedPath();
        return false;
    }
    volumes_.push_back(std::move(volume));
    return true;
}

VolumeSetWriter::Added VolumeSetWriter::AddFile(const std::string& archivedPath, LoadedFile& file)
{
    full_ = false;
    ArchiveWriter* current = volumes_.back().get();
    if (volumeSize_ && current->EntryCount() > 0 && ArchiveWriter::CouldHold(archivedPath, file) &&
        current->Size() + FileEntry::Size + ArchiveWriter::StoredSize(file) > *volumeSize_) {
        if (volumes_.size() == SetManifest::MaxVolumes) {
            setFull_ = true;
            return Added::NotStored;
        }
        if (!StartVolume())
            return Added::CannotCreate;
        current = volumes_.back().get();
    }
    bool stored = false;
    if (file.stream) {
        switch (current->AddStreamed(archivedPath, file)) {
        case ArchiveWriter::Streamed::Added:
            stored = true;
            break;
        case ArchiveWriter::Streamed::Changed:
            return Added::Changed;
        case ArchiveWriter::Streamed::Refused:
            break;
        }
    } else {
        stored = current->AddFile(archivedPath, file);
    }
    if (!stored) {
        full_ = !volumeSize_ && current->Full();
        return Added::NotStored;
    }
    // The fields the identity takes; where the entry lies does not count.
    FileEntry fields;
    fields.rawSize = static_cast<std::uint32_t>(file.rawSize);
    fields.contentHash = file.contentHash;
    fields.storedSize = static_cast<std::uint32_t>(ArchiveWriter::StoredSize(file));
    fields.nameHash = NameHash(archivedPath);
    identity_.Add(fields);
    return Added::Stored;
}

ArchiveIdentity VolumeSetWriter::Identity() const
{
    return volumes_.size() == 1 ? volumes_.front()->Identity() : identity_.Value();
}

std::vector<std::string> VolumeSetWriter::Retire(SetManifest* manifest) const
{
    std::vector<std::string> removals;
    for (const Earlier& earlier : earlier_) {
        if (earlier.number < volumes_.size())
            continue;  // replaced by this set's volume of that number
        const NamedPath archive = VolumeArchive(earlier.number);
        if (!HoldsRecords(archive.path, earlier.volume))
            continue;
        removals.push_back(archive.path);
        if (manifest)
            manifest->retired.push_back(earlier.volume);
        // Its key file where this command names them, or beside it by default.
        const std::string keyPath =
            VolumeKeyFile(earlier.number, archive).value_or(NamedPath(archive.path + std::string(KeyFileSuffix))).path;
        if (StatusOf(keyPath) && KeyFileOf(archive.path, keyPath, earlier.volume.keyFileHash))
            removals.push_back(keyPath);
    }
    if (!manifest_ && oldManifest_)
        removals.push_back(manifestPath_);
    return removals;
}

void VolumeSetWriter::Close()
{
    if (volumes_.empty())
        return;
    if (!IsSet() && !oldManifest_) {
        volumes_.front()->Close();
        return;
    }
    SetManifest manifest;
    manifest.keyFiles = keyFile_.has_value();
    const std::vector<std::string> removals = Retire(manifest_ ? &manifest : nullptr);
    // Every file in the order of the renames, the first volume's last, each
    // with the path messages show for it.
    std::vector<OutputGuard*> guards;
    std::vector<std::string> shown;
    const auto add = [&](ArchiveWriter& volume) {
        for (OutputGuard* guard : volume.Seal()) {
            guards.push_back(guard);
            shown.push_back(volume.ShownPathOf(guard));
        }
    };
    for (std::size_t number = 1; number < volumes_.size(); ++number)
        add(*volumes_[number]);
    std::optional<FileStatus> manifestWritten;
    if (manifest_) {
        for (std::size_t number = 0; number < volumes_.size(); ++number) {
            const ArchiveWriter& volume = *volumes_[number];
            manifest.volumes.push_back({NamePart(VolumeArchive(number).path), volume.Size(), volume.EntryCount(),
                                        volume.RecordsHash(), volume.KeyFileHash()});
        }
        const std::vector<std::uint8_t> bytes = manifest.Encode();
        manifestWritten = manifest_->Status();
        const std::string manifestShown = archive_.shown + std::string(SetManifest::Suffix);
        if (!manifest_->Output().WriteAll(bytes.data(), bytes.size())) {
            Abandon();
            throw ArchiveWriteError(manifestShown);
        }
        guards.push_back(manifest_.get());
        shown.push_back(manifestShown);
    }
    add(*volumes_.front());

    if (const OutputGuard* failed = JointCommit::Commit(guards, removals)) {
        std::string failedShown;
        for (std::size_t i = 0; i < guards.size(); ++i) {
            if (guards[i] == failed)
                failedShown = shown[i];
        }
        Abandon();
        throw ArchiveWriteError(failedShown);
    }
    for (const std::unique_ptr<ArchiveWriter>& volume : volumes_)
        volume->Committed();
    if (manifest_) {
        const std::optional<FileStatus> now = StatusOf(manifestPath_);
        if (now && manifestWritten && now->SameFileAs(*manifestWritten))
            writtenManifest_ = now;
    }
    manifest_.reset();
}

void VolumeSetWriter::Abandon()
{
    for (const std::unique_ptr<ArchiveWriter>& volume : volumes_)
        volume->Abandon();
    manifest_.reset();
}

}  // namespace zelkor
