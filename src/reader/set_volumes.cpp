#include "reader/set_volumes.h"

#include <algorithm>
#include <cerrno>

#include "archive/archive_format.h"
#include "archive/archive_format_error.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"
#include "reader/file_source.h"
#include "reader/source_error.h"

namespace zelkor {

namespace {

bool EndsWith(const std::string& text, std::string_view end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether nothing is at `path`, as opposed to something that cannot be read.
bool Missing(const std::string& path)
{
    return !StatusOf(path) && errno == ENOENT;
}

}  // namespace

SetVolumes::SetVolumes(const std::string& manifestPath, const std::string* firstKey)
    : SetVolumes(FileSource(manifestPath), SetManifest::NameCheck::FileName, OpenFiles)
{
    if (firstKey && !manifest_.keyFiles)
        throw ArchiveFormatError(*firstKey + " is not a key file of " + manifestPath +
                                     ", a set built without key files; read it without one",
                                 ArchiveFormatError::Cause::ForeignKeyFile);
    if (!firstKey && manifest_.keyFiles)
        throw ArchiveFormatError(manifestPath + " is a set built with key files; name its first volume's (" +
                                     FirstVolumeOf(manifestPath) + std::string(KeyFileSuffix) + " by default)",
                                 ArchiveFormatError::Cause::ForeignKeyFile);
    Place(firstKey);
}

SetVolumes::SetVolumes(const ByteSource& manifest, bool keyFiles, const std::string* firstKey, Opener open)
    : SetVolumes(manifest, SetManifest::NameCheck::None, std::move(open))
{
    if (keyFiles != manifest_.keyFiles)
        throw ArchiveFormatError(manifestPath_ + (manifest_.keyFiles ? " is a set built with key files; read it with them"
                                                                     : " is a set built without key files; read it "
                                                                       "without them"),
                                 ArchiveFormatError::Cause::ForeignKeyFile);
    const std::string byDefault = DirectoryPart(manifestPath_) + manifest_.volumes.front().name +
                                  std::string(KeyFileSuffix);
    Place(keyFiles ? (firstKey ? firstKey : &byDefault) : nullptr);
}

SetVolumes::SetVolumes(const ByteSource& manifest, SetManifest::NameCheck check, Opener open)
    : open_(std::move(open)), manifestPath_(manifest.Name())
{
    // One byte more than any manifest tells one that is too long.
    std::vector<std::uint8_t> bytes(std::min<std::uint64_t>(manifest.Size(), SetManifest::MaxSize) + 1);
    const std::optional<std::size_t> got = manifest.ReadAt(0, bytes);
    if (!got)
        throw SourceError::CannotRead(manifestPath_);
    bytes.resize(*got);
    manifest_ = SetManifest::Decode(bytes, manifestPath_, check);
}

void SetVolumes::Place(const std::string* firstKey)
{
    const std::string directory = DirectoryPart(manifestPath_);
    firsts_.push_back(0);
    for (std::size_t i = 0; i < manifest_.volumes.size(); ++i) {
        const SetManifest::Volume& volume = manifest_.volumes[i];
        archivePaths_.push_back(directory + volume.name);
        if (firstKey)
            keyPaths_.push_back(SetManifest::VolumeKeyPath(archivePaths_.front(), *firstKey, archivePaths_.back(), i));
        // The manifest bounds every volume's entries by its size, below 4 GiB.
        firsts_.push_back(firsts_.back() + volume.entries);
    }
}

std::optional<std::string> SetVolumes::ManifestFor(const std::string& path)
{
    if (File file = File::OpenRegular(path, OpenFlags::Read); file.IsOpen()) {
        std::uint8_t magic[4];
        const std::optional<std::size_t> got = file.ReadAt(0, magic, sizeof magic);
        if (got && *got == sizeof magic && DecodeFixed32(magic) == SetManifest::Magic)
            return path;
    }
    const std::string beside = SetManifest::PathFor(path);
    if (StatusOf(beside))
        return beside;
    return std::nullopt;
}

std::string SetVolumes::FirstVolumeOf(const std::string& path)
{
    if (!EndsWith(path, SetManifest::Suffix))
        return path;
    return path.substr(0, path.size() - SetManifest::Suffix.size());
}

std::size_t SetVolumes::VolumeOf(std::uint64_t index) const
{
    // The first volume whose entries end after `index`; empty volumes are passed.
    const auto end = std::upper_bound(firsts_.begin() + 1, firsts_.end(), index);
    return static_cast<std::size_t>(end - firsts_.begin() - 1);
}

std::string SetVolumes::Name(std::size_t volume) const
{
    return manifestPath_ + ": volume " + std::to_string(volume) + " (" + manifest_.volumes[volume].name + ")";
}

SetVolumes::Sources SetVolumes::Open(std::size_t volume) const
{
    Sources sources = open_(*this, volume);
    // The size before the key file, so that a volume cut short is named as such.
    CheckSize(volume, *sources.first);
    if (HasKeyFiles() && !sources.second)
        throw ArchiveFormatError(Name(volume) + ": its key file " + *KeyPath(volume) + " is missing");
    return sources;
}

void SetVolumes::CheckSize(std::size_t volume, const ByteSource& archive) const
{
    const std::uint64_t expected = manifest_.volumes[volume].size;
    if (archive.Size() != expected)
        throw ArchiveFormatError(Name(volume) + " has " + std::to_string(archive.Size()) + " bytes where the set has " +
                                 std::to_string(expected) + ": it was cut short, rebuilt or taken from another build");
}

SetVolumes::Sources SetVolumes::OpenFiles(const SetVolumes& set, std::size_t volume)
{
    const std::string& archivePath = set.ArchivePath(volume);
    if (Missing(archivePath))
        throw ArchiveFormatError(set.Name(volume) + " is missing");
    // A missing key file is left to Open, which checks the size first.
    std::unique_ptr<ByteSource> keyFile;
    if (const std::string* keyPath = set.KeyPath(volume); keyPath && !Missing(*keyPath))
        keyFile = std::make_unique<FileSource>(*keyPath);
    return {std::make_unique<FileSource>(archivePath), std::move(keyFile)};
}

void SetVolumes::Check(std::size_t volume, const Observer& observer, const std::optional<KeyFileHeader>& keyFile) const
{
    const SetManifest::Volume& expected = manifest_.volumes[volume];
    if (observer.Entries() != expected.entries || observer.Hash() != expected.recordsHash)
        throw ArchiveFormatError(Name(volume) +
                                 " is not the volume this set was built with (its records differ): it was rebuilt "
                                 "or taken from another build");
    if (keyFile && RecordsDigest::KeyFile(*keyFile) != expected.keyFileHash)
        throw ArchiveFormatError(Name(volume) + ": its key file " + *KeyPath(volume) +
                                     " is not the one this set was built with: it was rebuilt or taken from another "
                                     "build",
                                 ArchiveFormatError::Cause::ForeignKeyFile);
}

}  // namespace zelkor
