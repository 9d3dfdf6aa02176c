#include "archive/archive_format.h"

#include <algorithm>

#include <cryptopp/crc.h>

namespace zelkor {

namespace {

// Field offsets within the fixed-size records.
constexpr std::size_t HeaderMagicAt = 0;
constexpr std::size_t HeaderKeyShareAt = 4;
constexpr std::size_t HeaderIvShareAt = 36;

constexpr std::size_t EntryRawSizeAt = 0;
constexpr std::size_t EntryContentHashAt = 4;
constexpr std::size_t EntryDataOffsetAt = 8;
constexpr std::size_t EntryStoredSizeAt = 12;
constexpr std::size_t EntryNameHashAt = 16;

constexpr std::size_t KeyFileKeyShareAt = 0;
constexpr std::size_t KeyFileIvShareAt = 32;

static_assert(HeaderIvShareAt + ShareSize == ArchiveHeader::Size);
static_assert(EntryNameHashAt + 4 == FileEntry::Size);
static_assert(KeyFileIvShareAt + ShareSize == KeyFileHeader::Size);

void CopyShare(const std::uint8_t* in, Share& share)
{
    std::copy_n(in, ShareSize, share.begin());
}

}  // namespace

void ArchiveHeader::EncodeTo(std::span<std::uint8_t, Size> out) const
{
    EncodeFixed32(&out[HeaderMagicAt], magic);
    std::copy(keyShare.begin(), keyShare.end(), &out[HeaderKeyShareAt]);
    std::copy(ivShare.begin(), ivShare.end(), &out[HeaderIvShareAt]);
}

ArchiveHeader ArchiveHeader::DecodeFrom(std::span<const std::uint8_t, Size> in)
{
    ArchiveHeader header;
    header.magic = DecodeFixed32(&in[HeaderMagicAt]);
    CopyShare(&in[HeaderKeyShareAt], header.keyShare);
    CopyShare(&in[HeaderIvShareAt], header.ivShare);
    return header;
}

void FileEntry::EncodeTo(std::span<std::uint8_t, Size> out) const
{
    EncodeFixed32(&out[EntryRawSizeAt], rawSize);
    EncodeFixed32(&out[EntryContentHashAt], contentHash);
    EncodeFixed32(&out[EntryDataOffsetAt], dataOffset);
    EncodeFixed32(&out[EntryStoredSizeAt], storedSize);
    EncodeFixed32(&out[EntryNameHashAt], nameHash);
}

FileEntry FileEntry::DecodeFrom(std::span<const std::uint8_t, Size> in)
{
    FileEntry entry;
    entry.rawSize = DecodeFixed32(&in[EntryRawSizeAt]);
    entry.contentHash = DecodeFixed32(&in[EntryContentHashAt]);
    entry.dataOffset = DecodeFixed32(&in[EntryDataOffsetAt]);
    entry.storedSize = DecodeFixed32(&in[EntryStoredSizeAt]);
    entry.nameHash = DecodeFixed32(&in[EntryNameHashAt]);
    return entry;
}

void KeyFileHeader::EncodeTo(std::span<std::uint8_t, Size> out) const
{
    std::copy(keyShare.begin(), keyShare.end(), &out[KeyFileKeyShareAt]);
    std::copy(ivShare.begin(), ivShare.end(), &out[KeyFileIvShareAt]);
}

KeyFileHeader KeyFileHeader::DecodeFrom(std::span<const std::uint8_t, Size> in)
{
    KeyFileHeader header;
    CopyShare(&in[KeyFileKeyShareAt], header.keyShare);
    CopyShare(&in[KeyFileIvShareAt], header.ivShare);
    return header;
}

std::vector<std::uint8_t> NameRecord::Encode() const
{
    std::vector<std::uint8_t> out(EncodedSize());
    EncodeFixed16(out.data(), static_cast<std::uint16_t>(name.size()));
    std::copy(name.begin(), name.end(), out.begin() + LengthSize);
    EncodeFixed32(out.data() + LengthSize + name.size(), contentHash);
    return out;
}

std::size_t NameRecord::DecodeNameLength(std::span<const std::uint8_t, LengthSize> in)
{
    return DecodeFixed16(in.data());
}

NameRecord NameRecord::DecodeFrom(std::span<const std::uint8_t> in)
{
    NameRecord record;
    const std::size_t nameLength = DecodeNameLength(in.first<LengthSize>());
    record.name.assign(reinterpret_cast<const char*>(in.data() + LengthSize), nameLength);
    record.contentHash = DecodeFixed32(in.data() + LengthSize + nameLength);
    return record;
}

std::string NormalizeName(std::string_view archivedPath)
{
    std::string name(archivedPath);
    for (char& c : name)
        c = NormalNameByte(c);
    return name;
}

std::uint32_t NameHash(std::string_view archivedPath)
{
    // Normalised a piece at a time on the stack, so that hashing a name, which
    // readers do for every lookup, allocates nothing.
    CryptoPP::CRC32 crc;
    CryptoPP::byte piece[256];
    for (std::size_t done = 0; done < archivedPath.size();) {
        const std::size_t count = std::min(sizeof piece, archivedPath.size() - done);
        for (std::size_t i = 0; i < count; ++i) {
            const char c = archivedPath[done + i];
            piece[i] = static_cast<CryptoPP::byte>(NormalNameByte(c));
        }
        crc.Update(piece, count);
        done += count;
    }
    // The digest holds the CRC register least significant byte first.
    std::uint8_t digest[CryptoPP::CRC32::DIGESTSIZE];
    crc.Final(digest);
    return DecodeFixed32(digest);
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (NormalNameByte(a[i]) != NormalNameByte(b[i]))
            return false;
    }
    return true;
}

bool EntryFits(std::uint64_t entryOffset, std::uint64_t storedSize)
{
    if (entryOffset >= ArchiveAddressLimit || storedSize >= ArchiveAddressLimit)
        return false;
    const std::uint64_t dataOffset = entryOffset + FileEntry::Size;
    return dataOffset < ArchiveAddressLimit && dataOffset + storedSize <= ArchiveAddressLimit;
}

}  // namespace zelkor
