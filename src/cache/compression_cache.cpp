#include "cache/compression_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <cryptopp/sha.h>
#include <lz4.h>
#include <xxhash.h>

#include "archive/archive_format.h"
#include "platform/file.h"
#include "platform/hex.h"
#include "platform/output_guard.h"
#include "platform/signal_cleanup.h"
#include "platform/warning_log.h"

namespace zelkor {

namespace {

// Entry layout, little-endian: magic, version, key, raw size, stored size,
// flags, checksum, then the stored size bytes of the LZ4 block (none when the
// entry says that compression did not pay).
constexpr std::uint32_t EntryMagic = 0x45434B5A;  // "ZKCE"
constexpr std::uint32_t EntryVersion = 1;
constexpr std::size_t MagicAt = 0;
constexpr std::size_t VersionAt = 4;
constexpr std::size_t KeyAt = 8;
constexpr std::size_t RawSizeAt = 40;
constexpr std::size_t StoredSizeAt = 48;
constexpr std::size_t FlagsAt = 56;
constexpr std::size_t ChecksumAt = 64;
constexpr std::size_t HeaderSize = 72;
constexpr std::uint32_t Compressed = 1;

constexpr const char* SizeFile = ".size";
constexpr const char* StatsFile = "stats";

void EncodeFixed64(std::uint8_t* out, std::uint64_t value)
{
    EncodeFixed32(out, static_cast<std::uint32_t>(value));
    EncodeFixed32(out + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t DecodeFixed64(const std::uint8_t* in)
{
    return DecodeFixed32(in) | (std::uint64_t{DecodeFixed32(in + 4)} << 32);
}

// XXH64 of the header with its checksum field as zeros, then the block.
std::uint64_t Checksum(const std::uint8_t* header, std::span<const std::uint8_t> block)
{
    std::uint8_t copy[HeaderSize];
    std::copy_n(header, HeaderSize, copy);
    std::fill_n(copy + ChecksumAt, 8, 0);
    XXH64_state_t* state = XXH64_createState();
    if (!state)
        throw std::bad_alloc();
    XXH64_reset(state, 0);
    XXH64_update(state, copy, sizeof copy);
    XXH64_update(state, block.data(), block.size());
    const std::uint64_t sum = XXH64_digest(state);
    XXH64_freeState(state);
    return sum;
}

bool IsEntryName(const char* name)
{
    const std::size_t length = std::strlen(name);
    return length == 64 && std::all_of(name, name + length, [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string BucketName(int bucket)
{
    std::string name;
    AppendHexByte(name, static_cast<unsigned char>(bucket));
    return name;
}

struct EntryFile {
    std::string path;
    std::uint64_t size = 0;
    timespec used{};
};

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The entries of one bucket directory.
std::vector<EntryFile> ListBucket(const std::string& bucket)
{
    std::vector<EntryFile> entries;
    DIR* dir = ::opendir(bucket.c_str());
    if (!dir)
        return entries;
    while (const dirent* item = ::readdir(dir)) {
        if (!IsEntryName(item->d_name))
            continue;
        EntryFile entry{bucket + "/" + item->d_name, 0, {}};
        struct stat info {};
        if (::stat(entry.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        entry.size = static_cast<std::uint64_t>(info.st_size);
        entry.used = info.st_mtim;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
}

// A small file of 64-bit counters, read and rewritten under an exclusive lock.
class Counters {
public:
    Counters(const std::string& path, std::size_t count) : values_(count, 0)
    {
        file_ = File::Open(path, OpenFlags::ReadWrite | OpenFlags::Create | OpenFlags::NoFollow, 0666);
        if (!file_.IsOpen())
            return;
        if (!file_.Lock(true)) {
            file_.Close();
            return;
        }
        values_ = Read(file_, count);
    }

    // The `count` counters of `file` as they are, zeros when it holds fewer.
    static std::vector<std::uint64_t> Read(const File& file, std::size_t count)
    {
        std::vector<std::uint64_t> values(count, 0);
        std::vector<std::uint8_t> bytes(8 * count);
        if (file.IsOpen() && file.ReadAt(0, bytes.data(), bytes.size()) == bytes.size()) {
            for (std::size_t i = 0; i < count; ++i)
                values[i] = DecodeFixed64(&bytes[8 * i]);
        }
        return values;
    }
    // Unlocks by closing.
    ~Counters() = default;

    bool IsOpen() const { return file_.IsOpen(); }
    std::uint64_t& operator[](std::size_t i) { return values_[i]; }

    bool Save()
    {
        std::vector<std::uint8_t> bytes(8 * values_.size());
        for (std::size_t i = 0; i < values_.size(); ++i)
            EncodeFixed64(&bytes[8 * i], values_[i]);
        return ::pwrite(static_cast<int>(file_.NativeHandle()), bytes.data(), bytes.size(), 0) ==
               static_cast<ssize_t>(bytes.size());
    }

private:
    File file_;
    std::vector<std::uint64_t> values_;
};

}  // namespace

std::optional<std::uint64_t> CompressionCache::ParseSize(const std::string& text)
{
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (UINT64_MAX - 9) / 10)
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0)
        return std::nullopt;
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (text[i]) {
        case 'K': case 'k': shift = 10; break;
        case 'M': case 'm': shift = 20; break;
        case 'G': case 'g': shift = 30; break;
        default: return std::nullopt;
        }
    } else if (i != text.size()) {
        return std::nullopt;
    }
    if (value > (UINT64_MAX >> shift))
        return std::nullopt;
    return value << shift;
}

std::optional<CompressionCache::Settings> CompressionCache::FromEnvironment(std::string& badSize)
{
    const char* directory = std::getenv("ZELKOR_CACHE_DIR");
    if (!directory || !*directory)
        return std::nullopt;
    Settings settings;
    settings.directory = directory;
    if (const char* size = std::getenv("ZELKOR_CACHE_SIZE"); size && *size) {
        if (const std::optional<std::uint64_t> parsed = ParseSize(size))
            settings.capacity = *parsed;
        else
            badSize = size;
    }
    return settings;
}

CompressionCache::CompressionCache(Settings settings, WarningLog& warnings)
    : settings_(std::move(settings)), warnings_(warnings), process_(std::to_string(::getpid()))
{
}

CompressionCache::~CompressionCache() = default;

bool CompressionCache::Open()
{
    std::error_code error;
    std::filesystem::create_directories(settings_.directory, error);
    // Proven by writing: a directory that exists but takes no files is no cache.
    const std::string probe =
        settings_.directory + "/" + OutputGuard::HiddenName("probe", std::to_string(::getpid()));
    File file =
        File::Open(probe, OpenFlags::Write | OpenFlags::Create | OpenFlags::Truncate | OpenFlags::NoFollow, 0666);
    if (!file.IsOpen()) {
        Disable();
        return false;
    }
    file.Close();
    ::unlink(probe.c_str());
    return true;
}

void CompressionCache::Disable()
{
    disabled_.store(true);
    std::call_once(warned_, [&] { warnings_.Warn("Cannot use cache " + settings_.directory + "!"); });
}

CompressionCache::Key CompressionCache::KeyFor(std::span<const std::uint8_t> raw, std::uint32_t& contentHash)
{
    // Both hashes in one pass, a piece at a time, while each piece is in the
    // processor's cache.
    constexpr std::size_t Piece = 256 * 1024;
    CryptoPP::SHA256 sha;
    XXH32_state_t* xxh = XXH32_createState();
    if (!xxh)
        throw std::bad_alloc();
    XXH32_reset(xxh, ContentHashSeed);
    for (std::size_t at = 0; at < raw.size(); at += Piece) {
        const std::size_t length = std::min(Piece, raw.size() - at);
        sha.Update(raw.data() + at, length);
        XXH32_update(xxh, raw.data() + at, length);
    }
    contentHash = XXH32_digest(xxh);
    XXH32_freeState(xxh);

    std::uint8_t context[16];
    EncodeFixed64(context, raw.size());
    EncodeFixed32(context + 8, static_cast<std::uint32_t>(LZ4_versionNumber()));
    EncodeFixed32(context + 12, static_cast<std::uint32_t>(CompressionLevel));
    sha.Update(context, sizeof context);
    Key key;
    sha.Final(key.data());
    return key;
}

std::string CompressionCache::EntryPath(const Key& key) const
{
    const std::string hex = HexBytes(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
    return settings_.directory + "/" + hex.substr(0, 2) + "/" + hex;
}

std::optional<CompressionCache::Found> CompressionCache::Find(const Key& key, std::uint64_t rawSize,
                                                              const Buffer& buffer)
{
    if (disabled_.load())
        return std::nullopt;
    const std::string path = EntryPath(key);
    FileStatus status;
    File entry = File::OpenRegular(path, OpenFlags::Read, &status);
    if (!entry.IsOpen()) {
        ++misses_;
        return std::nullopt;
    }
    // Anything that is not exactly the entry this key asks for is removed.
    const auto damaged = [&]() -> std::optional<Found> {
        ::unlink(path.c_str());
        ++misses_;
        return std::nullopt;
    };
    // The whole entry in one read: its header, and its block straight into the
    // caller's buffer. A block no smaller than the raw bytes is no entry of ours.
    if (status.size < HeaderSize || status.size - HeaderSize >= std::max<std::uint64_t>(rawSize, 1))
        return damaged();
    const auto blockSize = static_cast<std::size_t>(status.size - HeaderSize);
    std::uint8_t header[HeaderSize];
    const std::span<std::uint8_t> block =
        blockSize > 0 ? buffer(blockSize).first(blockSize) : std::span<std::uint8_t>();
    iovec pieces[2] = {{header, HeaderSize}, {block.data(), block.size()}};
    if (::preadv(static_cast<int>(entry.NativeHandle()), pieces, block.empty() ? 1 : 2, 0) !=
            static_cast<ssize_t>(status.size) ||
        DecodeFixed32(header + MagicAt) != EntryMagic || DecodeFixed32(header + VersionAt) != EntryVersion ||
        !std::equal(key.begin(), key.end(), header + KeyAt) || DecodeFixed64(header + RawSizeAt) != rawSize ||
        DecodeFixed64(header + StoredSizeAt) != blockSize)
        return damaged();
    const bool compressed = DecodeFixed32(header + FlagsAt) == Compressed;
    if (compressed == block.empty() || Checksum(header, block) != DecodeFixed64(header + ChecksumAt))
        return damaged();
    const std::uint64_t storedSize = blockSize;

    // The entry was used: its time moves to now, out of the eviction's way (at
    // most once an hour, which is fine enough for the order of eviction and
    // spares the file system an update per hit).
    if (std::time(nullptr) - status.modifiedNanoseconds / 1'000'000'000 >= 3600)
        ::futimens(static_cast<int>(entry.NativeHandle()), nullptr);
    ++hits_;
    savedBytes_ += rawSize;
    return Found{compressed, static_cast<std::size_t>(storedSize)};
}

void CompressionCache::Store(const Key& key, std::uint64_t rawSize, std::span<const std::uint8_t> block)
{
    if (disabled_.load())
        return;
    std::uint8_t header[HeaderSize] = {};
    EncodeFixed32(header + MagicAt, EntryMagic);
    EncodeFixed32(header + VersionAt, EntryVersion);
    std::copy(key.begin(), key.end(), header + KeyAt);
    EncodeFixed64(header + RawSizeAt, rawSize);
    EncodeFixed64(header + StoredSizeAt, block.size());
    EncodeFixed32(header + FlagsAt, block.empty() ? 0 : Compressed);
    EncodeFixed64(header + ChecksumAt, Checksum(header, block));

    const std::string path = EntryPath(key);
    const std::size_t slash = path.rfind('/');
    const std::string bucket = path.substr(0, slash);
    const int index = key[0];
    if (!bucketMade_[index].load()) {
        if (::mkdir(bucket.c_str(), 0777) != 0 && errno != EEXIST)
            return Disable();
        bucketMade_[index].store(true);
    }
    // Written beside its name and renamed into place: a reader finds the whole
    // entry or none. Two writers of one key write the same bytes, so either wins.
    // (OutputGuard's checks of an existing target and its links buy nothing for
    // names only the cache makes, and would cost a few system calls an entry.)
    const std::string temporary =
        bucket + "/" + OutputGuard::HiddenName(path.substr(slash + 1), process_ + "-" + std::to_string(++temporaries_));
    SignalCleanup::Registration cleanup(temporary);
    File file = File::Open(temporary,
                           OpenFlags::Write | OpenFlags::Create | OpenFlags::Exclusive | OpenFlags::NoFollow, 0666);
    const bool written = file.IsOpen() && file.WriteAll(header, sizeof header) &&
                         file.WriteAll(block.data(), block.size()) && file.Close() &&
                         std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
        return Disable();
    }
    pendingBytes_[index] += HeaderSize + block.size();
    pendingEntries_[index] += 1;
}

void CompressionCache::Account(int index)
{
    const std::string bucket = settings_.directory + "/" + BucketName(index);
    Counters counters(bucket + "/" + SizeFile, 2);
    if (!counters.IsOpen())
        return Disable();
    counters[0] += pendingBytes_[index].exchange(0);
    counters[1] += pendingEntries_[index].exchange(0);
    const std::uint64_t share = settings_.capacity / BucketCount;
    if (counters[0] > share) {
        // Least recently used first, until the bucket is under 90% of its share.
        std::vector<EntryFile> files = ListBucket(bucket);
        std::sort(files.begin(), files.end(), [](const EntryFile& a, const EntryFile& b) {
            return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec : a.used.tv_nsec < b.used.tv_nsec;
        });
        std::uint64_t total = 0;
        for (const EntryFile& file : files)
            total += file.size;
        const std::uint64_t target = share / 10 * 9;
        std::uint64_t kept = files.size();
        for (const EntryFile& file : files) {
            if (total <= target)
                break;
            if (::unlink(file.path.c_str()) == 0) {
                total -= file.size;
                --kept;
            }
        }
        counters[0] = total;
        counters[1] = kept;
    }
    if (!counters.Save())
        Disable();
}

void CompressionCache::Flush()
{
    if (disabled_.load())
        return;
    // The sizes of the buckets written to, and there the eviction, once per
    // run rather than once per entry.
    for (int index = 0; index < BucketCount; ++index) {
        if (pendingEntries_[index].load() != 0)
            Account(index);
    }
    if (hits_.load() == 0 && misses_.load() == 0)
        return;
    Counters counters(settings_.directory + "/" + StatsFile, 3);
    if (!counters.IsOpen())
        return Disable();
    counters[0] += hits_.exchange(0);
    counters[1] += misses_.exchange(0);
    counters[2] += savedBytes_.exchange(0);
    if (!counters.Save())
        Disable();
}

std::optional<CompressionCache::Statistics> CompressionCache::Inspect(const std::string& directory)
{
    if (!IsDirectory(directory))
        return std::nullopt;
    Statistics statistics;
    for (int bucket = 0; bucket < BucketCount; ++bucket) {
        for (const EntryFile& file : ListBucket(directory + "/" + BucketName(bucket))) {
            ++statistics.entries;
            statistics.bytes += file.size;
        }
    }
    const std::vector<std::uint64_t> counters =
        Counters::Read(File::OpenRegular(directory + "/" + StatsFile, OpenFlags::Read), 3);
    statistics.hits = counters[0];
    statistics.misses = counters[1];
    statistics.savedBytes = counters[2];
    return statistics;
}

bool CompressionCache::Reset(const std::string& directory, bool entries)
{
    if (!IsDirectory(directory))
        return false;
    bool ok = true;
    if (entries) {
        for (int bucket = 0; bucket < BucketCount; ++bucket) {
            const std::string path = directory + "/" + BucketName(bucket);
            for (const EntryFile& file : ListBucket(path))
                ok = (::unlink(file.path.c_str()) == 0 || errno == ENOENT) && ok;
            Counters sizes(path + "/" + SizeFile, 2);
            if (sizes.IsOpen()) {
                sizes[0] = 0;
                sizes[1] = 0;
                ok = sizes.Save() && ok;
            }
        }
    }
    Counters counters(directory + "/" + StatsFile, 3);
    if (!counters.IsOpen())
        return false;
    counters[0] = counters[1] = counters[2] = 0;
    return counters.Save() && ok;
}

}  // namespace zelkor
