#include "archive/set_manifest.h"

#include <algorithm>

#include "archive/archive_format.h"
#include "archive/archive_format_error.h"
#include "archive/record_frame.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"

namespace zelkor {

static_assert(SetManifest::ChecksumSize == RecordFrame::ChecksumSize);

namespace {

void AppendVolume(std::vector<std::uint8_t>& out, const SetManifest::Volume& volume)
{
    std::uint8_t fixed[SetManifest::VolumeFixedSize];
    EncodeFixed16(fixed, static_cast<std::uint16_t>(volume.name.size()));
    out.insert(out.end(), fixed, fixed + 2);
    out.insert(out.end(), volume.name.begin(), volume.name.end());
    EncodeFixed64(fixed, volume.size);
    EncodeFixed64(fixed + 8, volume.entries);
    EncodeFixed64(fixed + 16, volume.recordsHash);
    EncodeFixed64(fixed + 24, volume.keyFileHash);
    out.insert(out.end(), fixed, fixed + 32);
}

// Whether `name` is a file name beside the manifest and nothing else: no
// separator of any system, no NUL, not a name of the directory itself.
bool BareName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\\\0", 3)) ==
                                                             std::string_view::npos;
}

class Decoder {
public:
    Decoder(std::span<const std::uint8_t> body, const std::string& name) : body_(body), name_(name) {}

    [[noreturn]] void Fail(const std::string& fault) const { throw ArchiveFormatError(name_ + ": " + fault); }

    std::uint32_t Fixed32(std::size_t at) const { return DecodeFixed32(body_.data() + at); }

    // The volume record at the read position; `what` names it in messages.
    SetManifest::Volume Volume(const std::string& what)
    {
        if (body_.size() - at_ < 2)
            Fail("the record of " + what + " is cut short");
        const std::size_t length = DecodeFixed16(body_.data() + at_);
        if (length > SetManifest::MaxNameLength || body_.size() - at_ - 2 < length + 32)
            Fail("the record of " + what + " is cut short");
        SetManifest::Volume volume;
        volume.name.assign(reinterpret_cast<const char*>(body_.data() + at_ + 2), length);
        at_ += 2 + length;
        volume.size = DecodeFixed64(body_.data() + at_);
        volume.entries = DecodeFixed64(body_.data() + at_ + 8);
        volume.recordsHash = DecodeFixed64(body_.data() + at_ + 16);
        volume.keyFileHash = DecodeFixed64(body_.data() + at_ + 24);
        at_ += 32;
        if (!BareName(volume.name))
            Fail(what + " is not named by a file name beside the manifest");
        // An archive holds its header, and 20 bytes for every entry, below 4 GiB.
        if (volume.size < ArchiveHeader::Size || volume.size > ArchiveAddressLimit ||
            volume.entries > (volume.size - ArchiveHeader::Size) / FileEntry::Size)
            Fail(what + " (" + volume.name + ") cannot hold " + std::to_string(volume.entries) + " entries in " +
                 std::to_string(volume.size) + " bytes");
        return volume;
    }

    bool AtEnd() const { return at_ == body_.size(); }
    void Skip(std::size_t bytes) { at_ += bytes; }

private:
    std::span<const std::uint8_t> body_;
    const std::string& name_;
    std::size_t at_ = 0;
};

}  // namespace

std::vector<std::uint8_t> SetManifest::Encode() const
{
    std::vector<std::uint8_t> out(HeaderSize);
    RecordFrame::Begin(out, Magic, Version);
    EncodeFixed32(out.data() + 8, static_cast<std::uint32_t>(volumes.size()));
    EncodeFixed32(out.data() + 12, static_cast<std::uint32_t>(retired.size()));
    EncodeFixed32(out.data() + 16, keyFiles ? KeyFilesFlag : 0);
    for (const Volume& volume : volumes)
        AppendVolume(out, volume);
    for (const Volume& volume : retired)
        AppendVolume(out, volume);
    RecordFrame::Seal(out);
    return out;
}

SetManifest SetManifest::Decode(std::span<const std::uint8_t> bytes, const std::string& name, NameCheck check)
{
    Decoder whole(bytes, name);
    if (bytes.size() < HeaderSize + ChecksumSize)
        whole.Fail("not a set manifest (" + std::to_string(bytes.size()) + " bytes)");
    if (whole.Fixed32(0) != Magic)
        whole.Fail("not a set manifest (bad magic number)");
    if (whole.Fixed32(4) != Version)
        whole.Fail("a set manifest of version " + std::to_string(whole.Fixed32(4)) + ", which this reader does not know");
    if (bytes.size() > MaxSize)
        whole.Fail("a set manifest of " + std::to_string(bytes.size()) + " bytes, more than any set needs");
    const std::span<const std::uint8_t> body = bytes.first(bytes.size() - ChecksumSize);
    if (!RecordFrame::Sealed(bytes))
        whole.Fail("damaged set manifest (its checksum does not match)");

    Decoder in(body, name);
    const std::uint32_t count = in.Fixed32(8);
    const std::uint32_t retiredCount = in.Fixed32(12);
    if (count == 0 || count > MaxVolumes || retiredCount > MaxVolumes)
        in.Fail("a set manifest naming " + std::to_string(count) + " volumes and " + std::to_string(retiredCount) +
                " retired ones (at most " + std::to_string(MaxVolumes) + " each)");
    const std::uint32_t flags = in.Fixed32(16);
    if ((flags & ~KeyFilesFlag) != 0)
        in.Fail("a set manifest with flags " + std::to_string(flags) + ", which this reader does not know");
    in.Skip(HeaderSize);
    SetManifest manifest;
    manifest.keyFiles = (flags & KeyFilesFlag) != 0;
    for (std::uint32_t i = 0; i < count; ++i)
        manifest.volumes.push_back(in.Volume("volume " + std::to_string(i)));
    for (std::uint32_t i = 0; i < retiredCount; ++i)
        manifest.retired.push_back(in.Volume("retired volume " + std::to_string(i)));
    if (!in.AtEnd())
        in.Fail("bytes follow the last volume record");

    std::vector<std::string_view> names;
    for (const auto* list : {&manifest.volumes, &manifest.retired}) {
        for (const Volume& volume : *list) {
            if (std::find(names.begin(), names.end(), volume.name) != names.end())
                in.Fail("names " + volume.name + " twice");
            names.push_back(volume.name);
        }
    }
    if (check == NameCheck::FileName && NamePart(name) != PathFor(manifest.volumes.front().name))
        in.Fail("names " + manifest.volumes.front().name + " as its first volume, which is not " +
                 NamePart(name) + " without " + std::string(Suffix));
    return manifest;
}

std::string SetManifest::VolumePath(const std::string& first, std::size_t volume)
{
    if (volume == 0)
        return first;
    const std::string directory = DirectoryPart(first);
    const std::string name = NamePart(first);
    const std::size_t dot = name.rfind('.');
    const std::size_t stemEnd = dot == std::string::npos || dot == 0 ? name.size() : dot;
    std::string number = std::to_string(volume);
    if (number.size() < 3)
        number.insert(0, 3 - number.size(), '0');
    return directory + name.substr(0, stemEnd) + "_" + number + name.substr(stemEnd);
}

std::string SetManifest::VolumeKeyPath(const std::string& firstArchive, const std::string& firstKey,
                                       const std::string& volumeArchive, std::size_t volume)
{
    if (firstKey == firstArchive + std::string(KeyFileSuffix))
        return volumeArchive + std::string(KeyFileSuffix);
    return VolumePath(firstKey, volume);
}

}  // namespace zelkor
