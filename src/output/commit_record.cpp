#include "output/commit_record.h"

#include <algorithm>

#include "output/output_guard.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"

namespace zelkor {

namespace {

constexpr std::uint32_t Magic = 0x434B4C5A;  // "ZLKC"
constexpr std::size_t HeaderSize = 10;  // magic, version, pair count
constexpr std::size_t IdentitySize = 32;
constexpr std::size_t ChecksumSize = 4;

// FNV-1a over the record's bytes: enough to tell a record cut short by a power
// loss from a whole one (it is flushed before any rename).
std::uint32_t Checksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t hash = 2166136261u;
    for (const std::uint8_t byte : bytes)
        hash = (hash ^ byte) * 16777619u;
    return hash;
}

void AppendString(std::vector<std::uint8_t>& out, const std::string& text)
{
    std::uint8_t length[2];
    EncodeFixed16(length, static_cast<std::uint16_t>(text.size()));
    out.insert(out.end(), length, length + 2);
    out.insert(out.end(), text.begin(), text.end());
}

// Reads a length-prefixed string at `at`, of 1 to `limit` bytes, and moves past it.
std::optional<std::string> TakeString(std::span<const std::uint8_t> bytes, std::size_t& at, std::size_t limit)
{
    if (bytes.size() - at < 2)
        return std::nullopt;
    const std::size_t length = DecodeFixed16(bytes.data() + at);
    at += 2;
    if (length == 0 || length > limit || bytes.size() - at < length)
        return std::nullopt;
    std::string text(reinterpret_cast<const char*>(bytes.data() + at), length);
    at += length;
    if (text.find('\0') != std::string::npos)
        return std::nullopt;
    return text;
}

void AppendIdentity(std::vector<std::uint8_t>& out, const CommitRecord::Identity& identity)
{
    std::uint8_t bytes[IdentitySize];
    EncodeFixed64(bytes, identity.device);
    EncodeFixed64(bytes + 8, identity.inode);
    EncodeFixed64(bytes + 16, identity.size);
    EncodeFixed64(bytes + 24, static_cast<std::uint64_t>(identity.modified));
    out.insert(out.end(), bytes, bytes + IdentitySize);
}

std::optional<CommitRecord::Identity> TakeIdentity(std::span<const std::uint8_t> bytes, std::size_t& at)
{
    if (bytes.size() - at < IdentitySize)
        return std::nullopt;
    const std::uint8_t* in = bytes.data() + at;
    at += IdentitySize;
    return CommitRecord::Identity{DecodeFixed64(in), DecodeFixed64(in + 8), DecodeFixed64(in + 16),
                                  static_cast<std::int64_t>(DecodeFixed64(in + 24))};
}

bool ValidPair(const CommitRecord::Pair& pair)
{
    const std::string name = NamePart(pair.target);
    const bool bare = name == pair.target;
    if (!bare && !IsAbsolutePath(pair.target))
        return false;
    if (name.empty() || name == "." || name == "..")
        return false;
    return NamePart(pair.temporary) == pair.temporary && OutputGuard::IsTemporaryName(pair.temporary, name);
}

}  // namespace

std::string CommitRecord::NameFor(std::string_view name)
{
    return OutputGuard::HiddenName(name, "commit");
}

std::vector<std::uint8_t> CommitRecord::Encode() const
{
    std::vector<std::uint8_t> out(HeaderSize);
    EncodeFixed32(out.data(), Magic);
    EncodeFixed32(out.data() + 4, Version);
    EncodeFixed16(out.data() + 8, static_cast<std::uint16_t>(pairs.size()));
    for (const Pair& pair : pairs) {
        AppendString(out, pair.target);
        AppendString(out, pair.temporary);
        AppendIdentity(out, pair.written);
    }
    std::uint8_t checksum[ChecksumSize];
    EncodeFixed32(checksum, Checksum(out));
    out.insert(out.end(), checksum, checksum + ChecksumSize);
    return out;
}

bool CommitRecord::OfAnotherVersion(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 8 && DecodeFixed32(bytes.data()) == Magic && DecodeFixed32(bytes.data() + 4) != Version;
}

std::optional<CommitRecord> CommitRecord::Decode(std::span<const std::uint8_t> bytes, std::string_view recordName)
{
    if (bytes.size() < HeaderSize + ChecksumSize || bytes.size() > MaxSize)
        return std::nullopt;
    const std::span<const std::uint8_t> body = bytes.first(bytes.size() - ChecksumSize);
    if (DecodeFixed32(bytes.data()) != Magic || DecodeFixed32(bytes.data() + 4) != Version ||
        DecodeFixed32(bytes.data() + body.size()) != Checksum(body))
        return std::nullopt;
    const std::size_t count = DecodeFixed16(bytes.data() + 8);
    if (count == 0 || count > MaxPairs)
        return std::nullopt;

    CommitRecord record;
    std::size_t at = HeaderSize;
    for (std::size_t i = 0; i < count; ++i) {
        std::optional<std::string> target = TakeString(body, at, MaxTargetLength);
        std::optional<std::string> temporary = target ? TakeString(body, at, MaxEntryNameLength) : std::nullopt;
        const std::optional<Identity> written = temporary ? TakeIdentity(body, at) : std::nullopt;
        if (!written)
            return std::nullopt;
        Pair pair{std::move(*target), std::move(*temporary), *written};
        if (!ValidPair(pair))
            return std::nullopt;
        const auto sameTarget = [&pair](const Pair& other) { return other.target == pair.target; };
        if (std::any_of(record.pairs.begin(), record.pairs.end(), sameTarget))
            return std::nullopt;
        record.pairs.push_back(std::move(pair));
    }
    // Nothing may follow the pairs, and the primary is the file the record is
    // named after, in the record's own directory.
    const std::string& primary = record.pairs.back().target;
    if (at != body.size() || NamePart(primary) != primary || NameFor(primary) != recordName)
        return std::nullopt;
    return record;
}

}  // namespace zelkor
