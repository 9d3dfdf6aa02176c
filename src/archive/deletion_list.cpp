#include "archive/deletion_list.h"

#include "archive/archive_format_error.h"
#include "archive/record_frame.h"

namespace zelkor {

static_assert(DeletionList::ChecksumSize == RecordFrame::ChecksumSize);

namespace {

constexpr std::uint32_t Magic = 0x4C444B5A;  // "ZKDL"
constexpr std::uint32_t Version = 1;

// The magic number and version lie where RecordFrame puts them, at 0 and 4.
constexpr std::size_t PatchDigestAt = 8;
constexpr std::size_t PatchEntriesAt = 16;
constexpr std::size_t BaseDigestAt = 24;
constexpr std::size_t BaseEntriesAt = 32;
constexpr std::size_t CountAt = 40;
static_assert(CountAt + 4 == DeletionList::HeaderSize);

// The smallest record a name takes: its length and one byte.
constexpr std::size_t SmallestName = 3;

[[noreturn]] void Fail(const std::string& path, const std::string& fault)
{
    throw ArchiveFormatError(path + ": " + fault);
}

}  // namespace

std::vector<std::uint8_t> DeletionList::Encode() const
{
    std::vector<std::uint8_t> out(HeaderSize);
    RecordFrame::Begin(out, Magic, Version);
    EncodeFixed64(&out[PatchDigestAt], patch.digest);
    EncodeFixed64(&out[PatchEntriesAt], patch.entries);
    EncodeFixed64(&out[BaseDigestAt], base.digest);
    EncodeFixed64(&out[BaseEntriesAt], base.entries);
    EncodeFixed32(&out[CountAt], static_cast<std::uint32_t>(names.size()));
    for (const std::string& name : names) {
        std::uint8_t length[2];
        EncodeFixed16(length, static_cast<std::uint16_t>(name.size()));
        out.insert(out.end(), length, length + 2);
        out.insert(out.end(), name.begin(), name.end());
    }
    RecordFrame::Seal(out);
    return out;
}

DeletionList DeletionList::Decode(std::span<const std::uint8_t> bytes, const std::string& path)
{
    if (bytes.size() < HeaderSize + ChecksumSize)
        Fail(path, "truncated deletion list (" + std::to_string(bytes.size()) + " bytes)");
    if (RecordFrame::Magic(bytes) != Magic)
        Fail(path, "not a deletion list (bad magic number)");
    if (const std::uint32_t version = RecordFrame::Version(bytes); version != Version)
        Fail(path, "deletion list of version " + std::to_string(version) + ", this reader knows version 1");
    const std::size_t body = bytes.size() - ChecksumSize;
    if (!RecordFrame::Sealed(bytes))
        Fail(path, "the deletion list's checksum does not match: damaged or cut short");

    DeletionList list;
    list.patch = {DecodeFixed64(&bytes[PatchDigestAt]), DecodeFixed64(&bytes[PatchEntriesAt])};
    list.base = {DecodeFixed64(&bytes[BaseDigestAt]), DecodeFixed64(&bytes[BaseEntriesAt])};
    const std::uint32_t count = DecodeFixed32(&bytes[CountAt]);
    // The count is believed only as far as the bytes could hold that many names.
    if (count > (body - HeaderSize) / SmallestName)
        Fail(path, "holds " + std::to_string(count) + " names in " + std::to_string(body - HeaderSize) + " bytes");
    list.names.reserve(count);
    std::size_t at = HeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (body - at < 2)
            Fail(path, "name " + std::to_string(i) + " at offset " + std::to_string(at) + " is cut short");
        const std::size_t length = DecodeFixed16(&bytes[at]);
        if (length == 0 || body - at - 2 < length)
            Fail(path, "name " + std::to_string(i) + " at offset " + std::to_string(at) + " is empty or cut short");
        std::string name(reinterpret_cast<const char*>(&bytes[at + 2]), length);
        if (name.find('\0') != std::string::npos)
            Fail(path, "name " + std::to_string(i) + " at offset " + std::to_string(at) + " holds a NUL");
        list.names.push_back(std::move(name));
        at += 2 + length;
    }
    if (at != body)
        Fail(path, std::to_string(body - at) + " bytes follow the last name at offset " + std::to_string(at));
    return list;
}

std::string DeletionList::PathFor(std::string_view archivePath)
{
    return std::string(archivePath) + ".del";
}

}  // namespace zelkor
