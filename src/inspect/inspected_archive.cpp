#include "inspect/inspected_archive.h"

#include <algorithm>

#include "inspect/inspect_messages.h"
#include "output/joint_commit.h"
#include "platform/file_system.h"
#include "platform/hex.h"
#include "platform/utf8.h"

namespace zelkor {

InspectedArchive::InspectedArchive(const std::string& archivePath, KeyChoice choice,
                                   const std::string& keyPath)
    : archivePath_(CompleteCommit(archivePath))
{
    const std::optional<std::string> manifest = SetVolumes::ManifestFor(archivePath);
    keyPath_ = ChooseKeyFile(archivePath, choice, keyPath);
    const std::string* key = keyPath_ ? &*keyPath_ : nullptr;
    reader_ = manifest ? std::make_unique<SetReader>(SetVolumes(*manifest, key))
                       : std::make_unique<SetReader>(archivePath, key);
}

const std::string& InspectedArchive::CompleteCommit(const std::string& archivePath)
{
    JointCommit::Complete(archivePath);
    if (const std::string first = SetVolumes::FirstVolumeOf(archivePath); first != archivePath)
        JointCommit::Complete(first);
    return archivePath;
}

std::optional<std::string> InspectedArchive::ChooseKeyFile(const std::string& archivePath,
                                                           KeyChoice choice, const std::string& keyPath)
{
    switch (choice) {
    case KeyChoice::Given:
        return keyPath;
    case KeyChoice::None:
        return std::nullopt;
    case KeyChoice::Default:
        break;
    }
    // Whatever exists there is taken, so that a directory or an unreadable file
    // at the default path is reported rather than silently passed over.
    const std::optional<std::string> manifest = SetVolumes::ManifestFor(archivePath);
    const std::string path = (manifest ? SetVolumes::FirstVolumeOf(*manifest) : archivePath) + ".zlk";
    if (StatusOf(path))
        return path;
    return std::nullopt;
}

std::string InspectedArchive::Label(const ArchiveReader::Entry& entry) const
{
    if (!HasNames())
        return Hex32(entry.fields.nameHash);
    return Printable(entry.name);
}

std::string InspectedArchive::Describe(const ArchiveReader::Entry& entry) const
{
    return "entry " + std::to_string(entry.position.index) + " (" + Label(entry) + ")";
}

std::string InspectedArchive::NameHashMismatch(const ArchiveReader::Entry& entry) const
{
    if (!HasNames())
        return {};
    if (ArchiveReader::NameFits(entry.name, entry.fields))
        return {};
    const std::uint32_t expected = NameHash(entry.name);
    return "name hash " + Hex32(entry.fields.nameHash) + " does not match its name, whose hash is " +
           Hex32(expected);
}

JsonDocument::Value InspectedArchive::Files() const
{
    JsonDocument::Value files;
    files["archive"] = JsonDocument::Text(ArchivePath());
    files["keyFile"] = keyPath_ ? JsonDocument::Text(*keyPath_) : nullptr;
    if (const SetVolumes* volumes = Volumes()) {
        files["manifest"] = JsonDocument::Text(volumes->ManifestPath());
        JsonDocument::Value list = JsonDocument::Value::array();
        for (std::size_t i = 0; i < volumes->Count(); ++i) {
            JsonDocument::Value volume;
            volume["archive"] = JsonDocument::Text(volumes->ArchivePath(i));
            volume["keyFile"] = volumes->KeyPath(i) ? JsonDocument::Text(*volumes->KeyPath(i)) : nullptr;
            volume["entries"] = volumes->Manifest().volumes[i].entries;
            volume["size"] = volumes->Manifest().volumes[i].size;
            list.push_back(volume);
        }
        files["volumes"] = list;
    }
    return files;
}

JsonDocument::Value InspectedArchive::Identity(const ArchiveReader::Entry& entry) const
{
    JsonDocument::Value identity;
    identity["index"] = entry.position.index;
    identity["name"] = HasNames() ? JsonDocument::Text(entry.name) : nullptr;
    if (HasNames() && !IsValidUtf8(entry.name))
        identity["nameHex"] = HexBytes(entry.name);
    identity["nameHash"] = Hex32(entry.fields.nameHash);
    if (Volumes())
        identity["volume"] = entry.position.volume;
    return identity;
}

std::string InspectedArchive::KeyFileSummary() const
{
    if (const SetVolumes* volumes = Volumes())
        return "as a set of " + std::to_string(volumes->Count()) + (volumes->Count() == 1 ? " volume " : " volumes ") +
               (keyPath_ ? "with key files numbered from " + Printable(*keyPath_) : "without key files");
    return keyPath_ ? "with key file " + Printable(*keyPath_) : "without a key file";
}

std::optional<std::string> InspectedArchive::KeyFileHint(std::uint64_t withContent,
                                                          const ArchiveReader::Entry& failed) const
{
    // Read with the wrong key, every entry decrypts to noise; the archive itself
    // cannot tell which key file, if any, belongs to it.
    if (keyPath_) {
        std::vector<std::uint8_t> content;
        const ArchiveKey alone = ArchiveKey::FromShares(reader_->Volume(failed.position.volume).Header(), nullptr);
        if (reader_->ReadContent(failed, content, alone) == ArchiveReader::ContentStatus::Ok)
            return inspect_message::DecodesWithoutKeyFile(*keyPath_);
    }
    if (withContent < 2)
        return std::nullopt;
    return keyPath_ ? inspect_message::LikelyAnotherKeyFile(*keyPath_) : inspect_message::LikelyBuiltWithKeyFile();
}

std::string InspectedArchive::Printable(std::string_view bytes)
{
    return ShowControls(bytes, false);
}

}  // namespace zelkor
