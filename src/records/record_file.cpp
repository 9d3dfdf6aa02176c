#include "records/record_file.h"

#include <algorithm>

#include "archive/record_frame.h"
#include "output/signal_cleanup.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"
#include "store/cache_key.h"

namespace zelkor {

static_assert(RecordFile::ChecksumSize == RecordFrame::ChecksumSize);

namespace {

// The key of no bytes: it changes with everything a key is salted with (the
// LZ4 version and level, the entry format), so records of keys made otherwise
// are never taken for this build's.
const CacheKey& Fingerprint()
{
    static const CacheKey fingerprint = CacheKey::Of(std::span<const std::uint8_t>());
    return fingerprint;
}

// A SHA-256 of the machine's identity.
const CacheKey& Machine()
{
    static const CacheKey machine = [] {
        const std::string identity = "zelkor machine " + MachineIdentity();
        return CacheKey::Of(std::span(reinterpret_cast<const std::uint8_t*>(identity.data()), identity.size()));
    }();
    return machine;
}

// Records are taken only from a file that this user owns and nobody else may
// write: anyone else who can write the cache directory can plant entries, which
// every use checks against the recorded key, but not the keys themselves. They
// name the sources, so nobody else may read them either, in a shared cache too.
constexpr unsigned RecordPermissions = 0600;

}  // namespace

std::vector<std::uint8_t> RecordFile::Encode(std::uint32_t magic, std::span<const std::uint8_t> body)
{
    std::vector<std::uint8_t> bytes(HeaderSize + body.size());
    RecordFrame::Begin(bytes, magic, Version);
    std::copy(Fingerprint().bytes.begin(), Fingerprint().bytes.end(), bytes.begin() + FingerprintAt);
    std::copy(Machine().bytes.begin(), Machine().bytes.end(), bytes.begin() + MachineAt);
    EncodeFixed64(&bytes[BodySizeAt], body.size());
    std::copy(body.begin(), body.end(), bytes.begin() + HeaderSize);
    RecordFrame::Seal(bytes);
    return bytes;
}

std::optional<std::vector<std::uint8_t>> RecordFile::Decode(std::span<const std::uint8_t> bytes, std::uint32_t magic)
{
    if (bytes.size() < HeaderSize + ChecksumSize)
        return std::nullopt;
    const std::uint64_t bodySize = DecodeFixed64(&bytes[BodySizeAt]);
    if (RecordFrame::Magic(bytes) != magic || RecordFrame::Version(bytes) != Version ||
        !std::equal(Fingerprint().bytes.begin(), Fingerprint().bytes.end(), bytes.begin() + FingerprintAt) ||
        !std::equal(Machine().bytes.begin(), Machine().bytes.end(), bytes.begin() + MachineAt) ||
        bodySize != bytes.size() - HeaderSize - ChecksumSize)
        return std::nullopt;
    const std::size_t checksumAt = HeaderSize + static_cast<std::size_t>(bodySize);
    if (!RecordFrame::Sealed(bytes))
        return std::nullopt;
    return std::vector<std::uint8_t>(bytes.begin() + HeaderSize, bytes.begin() + checksumAt);
}

std::optional<std::vector<std::uint8_t>> RecordFile::Read(const Directory& directory, const std::string& name,
                                                          std::uint32_t magic, std::size_t limit)
{
    FileStatus status;
    File file = directory.OpenForReading(name, &status);
    if (!file.IsOpen() || status.size > limit + HeaderSize + ChecksumSize || status.owner != EffectiveUser() ||
        (status.permissions & 022) != 0)
        return std::nullopt;
    // One byte more than the size, so that a file that grew meanwhile is seen
    // as no longer the one whose size was taken.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.size) + 1);
    const std::optional<std::size_t> got = file.ReadAt(0, bytes.data(), bytes.size());
    if (!got || *got != status.size)
        return std::nullopt;
    bytes.resize(*got);
    return Decode(bytes, magic);
}

bool RecordFile::Write(const Directory& directory, const std::string& name, std::uint32_t magic,
                       std::span<const std::uint8_t> body)
{
    const std::vector<std::uint8_t> bytes = Encode(magic, body);
    std::string temporary;
    SignalCleanup::Registration cleanup;
    File file = directory.CreateUnique(
        "." + name + ".zelkor-", temporary,
        [&](const std::string& path) { cleanup = SignalCleanup::Registration(path); }, RecordPermissions);
    if (file.IsOpen()) {
        if (std::optional<FileStatus> status = file.Status()) {
            status->permissions = RecordPermissions;
            file.TakeAttributesOf(*status);
        }
    }
    const bool written = file.IsOpen() && file.WriteAll(bytes.data(), bytes.size()) && file.Close() &&
                         directory.Rename(temporary, name);
    if (!written && !temporary.empty())
        directory.Remove(temporary);
    return written;
}

}  // namespace zelkor
