#include "inspect/inspected_archive.h"

#include <sys/stat.h>

#include "platform/hex.h"

namespace zelkor {

InspectedArchive::InspectedArchive(const std::string& archivePath, KeyChoice choice,
                                   const std::string& keyPath)
    : archivePath_(archivePath),
      keyPath_(ChooseKeyFile(archivePath, choice, keyPath)),
      reader_(archivePath, keyPath_ ? &*keyPath_ : nullptr)
{
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
    const std::string path = archivePath + ".zlk";
    struct stat info;
    if (::stat(path.c_str(), &info) == 0)
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
    const std::uint32_t expected = NameHash(entry.name);
    if (expected == entry.fields.nameHash)
        return {};
    return "name hash " + Hex32(entry.fields.nameHash) + " does not match its name, whose hash is " +
           Hex32(expected);
}

void InspectedArchive::WriteFiles(JsonWriter& json) const
{
    json.Key("archive").String(ArchivePath());
    json.Key("keyFile");
    if (keyPath_)
        json.String(*keyPath_);
    else
        json.Null();
}

void InspectedArchive::WriteIdentity(JsonWriter& json, const ArchiveReader::Entry& entry) const
{
    json.Key("index").Number(entry.position.index);
    json.Key("name");
    if (HasNames())
        json.String(entry.name);
    else
        json.Null();
    if (HasNames() && !JsonWriter::IsValidUtf8(entry.name))
        json.Key("nameHex").String(HexBytes(entry.name));
    json.Key("nameHash").String(Hex32(entry.fields.nameHash));
}

std::string InspectedArchive::KeyFileSummary() const
{
    return keyPath_ ? "with key file " + Printable(*keyPath_) : "without a key file";
}

std::string InspectedArchive::KeyFileHint() const
{
    // Read with the wrong key, every entry decrypts to noise; the archive itself
    // cannot tell which key file, if any, belongs to it.
    if (keyPath_)
        return "every entry failed to decode; the key file " + Printable(*keyPath_) +
               " is likely not the one this archive was built with (an archive does not record its"
               " key file): name the right one with --key FILE, or use --no-key if the archive was"
               " built without one";
    return "every entry failed to decode; the archive was likely built with a key file (an"
           " archive does not record whether it has one): name it with --key FILE";
}

std::string InspectedArchive::Printable(const std::string& bytes)
{
    std::string shown;
    shown.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += "\\x";
            AppendHexByte(shown, byte);
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace zelkor
