#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "archive/archive_crypto.h"
#include "archive/entry_codec.h"
#include "archive/loaded_file.h"
#include "archive/lz4_block_reader.h"
#include "cache/compression_cache.h"
#include "pack/previous_build.h"
#include "pack/streamed_source.h"
#include "platform/byte_buffer.h"
#include "platform/file.h"
#include "records/status_records.h"

namespace zelkor {

// Sources stored as they are from this size on are streamed, not held.
inline constexpr std::uint64_t StreamFrom = 4 * 1024 * 1024;

// Buffers up to this size stay with a job from file to file; larger ones, grown
// for a large file, are freed when the job is handed back (ReleaseMemory).
inline constexpr std::size_t FileJobCapacity = 64 * 1024 * 1024;

// The working storage that brings one source file into memory in the form an
// archive stores it: the file is read into `rawBytes` and encoded (hashed, and
// compressed into `storedBytes`) by the job's EntryCodec.
//
// Memory follows the files: both buffers start empty and grow to what the
// largest file so far needed (the raw bytes, and LZ4's worst-case output for
// them), so a job that only ever loads small files stays small. Reused from file
// to file, a buffer's pages are touched once; loading a file that fits allocates
// nothing. Files of 256 KiB and more are hashed and compressed straight from a
// read-only mapping instead of being copied into the raw buffer first; since
// another process may rewrite them meanwhile, what is stored from a mapping is
// checked against the hash taken in the first pass (the block decoded, or the
// copy hashed), and a file that changed between the passes is taken again once.
// A file that LZ4 cannot take in one block (over about 2 GiB) needs no output
// buffer at all: it is stored raw from the bytes read.
//
// A source stored as it is (Options::storeRaw) of StreamFrom bytes or more is
// not held at all: the job measures it (size and content hash) and keeps it
// open, and the result's stream hands it to the archive writer a piece at a
// time (ArchiveWriter::AddStreamed).
//
// With the cache's status records (StatusRecords), a source whose status is
// what its record says is not hashed again: when the cache holds its block,
// it is not read at all (the block is still proven to decode to bytes of the
// recorded key); when the cache says it is stored raw, it is read and only its
// content hash compared with the record's. Every other source that was read
// whole and did not move meanwhile is recorded. Either way the loaded file
// says which status its bytes stand for (LoadedFile::settled).
//
// With a previous build of the archive (Options::previous), a source it holds
// unchanged is not opened at all: its entry's stored bytes are read from that
// archive, checked against the build record, and handed on encrypted as they
// are. A source stored as it is from StreamFrom on is streamed instead, within
// its piece of memory.
//
// Used by one thread at a time; movable, not copyable.
class FileJob {
public:
    // With a cache, a file whose stored form the cache holds is not compressed
    // again, and the stored form of every other file goes into it. The cache
    // must outlive the job.
    explicit FileJob(CompressionCache* cache = nullptr);

    // Loads the regular file at `path` (links followed), reading it to its end
    // whatever size the file system reports for it. Nothing when it cannot be
    // opened, is one of the `excluded` files (compared by identity), is not a
    // regular file (a directory, a FIFO, a device or a socket, which are refused
    // at once and never waited on), cannot be read, or cannot be held for lack of
    // memory. The result's stored bytes lie in this job's buffers (in `rawBytes`
    // when the file is stored raw) and stay valid until the next load; their
    // holder may overwrite them.
    //
    // A file of 4 GiB or more is not read further than that, since an archive
    // cannot describe it: the result has a raw size of at least 4 GiB, no stored
    // bytes and hash 0, and the archive writer refuses it by its size.
    struct Options {
        // Files never read as sources, by identity.
        std::span<const FileStatus> excluded;
        // When set, the stored bytes come encrypted with this key.
        const ArchiveKey* key = nullptr;
        // Stored as read, without trying to compress it (and without the cache).
        bool storeRaw = false;
        // The LZ4 high-compression level (MinCompressionLevel to
        // MaxCompressionLevel). The cache's status records hold keys of the
        // default level only, so at any other a source is read and hashed.
        int level = CompressionLevel;
        // The last build of the archive, whose entries of unchanged sources
        // are copied (PreviousBuild); only with `key`, the key they were
        // encrypted with.
        const PreviousBuild* previous = nullptr;
    };
    std::optional<LoadedFile> Load(const std::string& path, const Options& options);
    std::optional<LoadedFile> Load(const std::string& path) { return Load(path, Options{}); }

    // What Load does once the file is open: reads from the current position of
    // `source` to its end, expecting about `length` bytes (the file's length as
    // last seen). A file that has changed length since is taken as it is read.
    // A mapped file whose bytes change while it is hashed and compressed is
    // taken again; when they change again, nothing.
    std::optional<LoadedFile> LoadFrom(File& source, std::uint64_t length);

    // What loading a source of `size` bytes may hold at most, for a memory
    // budget: its raw bytes (read or mapped) and LZ4's worst-case output for
    // them, or a copy when it is stored as it is; a piece of a streamed one.
    static std::uint64_t MemoryNeeded(std::uint64_t size, bool storeRaw);

    // For tests: called for a mapped file after it has been hashed and before
    // it is compressed or copied, where another process could rewrite it.
    void BetweenPasses(std::function<void()> hook) { betweenPasses_ = std::move(hook); }

    // Hands the memory that earlier loads wrote to both buffers back to the
    // system, except for their first `keep` bytes, and frees a buffer that grew
    // beyond FileJobCapacity, so that a job which once held a large file does not
    // stay large while it waits for the next one.
    void ReleaseMemory(std::size_t keep);

    ByteBuffer storedBytes;
    ByteBuffer rawBytes;

private:
    // A source trusted by `record`: its block from the cache, not read. Nothing
    // when the cache holds no block for it; with `rawKnown_` set then when the
    // cache says it is stored raw.
    std::optional<LoadedFile> LoadTrusted(const StatusRecords::Record& record);

    // The entry of an unchanged source, whose status is `status`, read from
    // the previous build and checked. Nothing when it is not as recorded.
    std::optional<LoadedFile> LoadCopied(const PreviousBuild& previous, const PreviousBuild::Entry& entry,
                                         const FileStatus& status);

    // Load's way with the file opened and read: streamed, or loaded whole and
    // encoded, and recorded when nothing moved while it was read.
    std::optional<LoadedFile> LoadOpened(const std::string& path, const Options& options, StatusRecords* records,
                                         const std::optional<std::string>& name);

    // A source stored as it is, measured and kept open in streamed_; it was
    // opened at `opened` with `status`.
    std::optional<LoadedFile> LoadStreamed(File source, const FileStatus& status, std::int64_t opened,
                                           StatusRecords* records, const std::optional<std::string>& name);

    // Reads to the end of `source` into rawBytes; the number of bytes read.
    std::optional<std::uint64_t> ReadToEnd(File& source, std::uint64_t length);

    // Loads `source` from a mapping of its `length` bytes. Nothing when it cannot
    // be mapped or the mapping turned out not to be the whole file (it shrank or
    // grew), which is then read instead; and nothing with `changed` set when its
    // bytes changed between the passes over them.
    std::optional<LoadedFile> LoadMapped(File& source, std::uint64_t length, bool& changed);

    // Hashes and compresses `raw`, or takes its stored form from the cache. The
    // stored bytes lie in the job's buffers: in `raw` itself only when it is the
    // job's own (`rawIsOurs`), otherwise they are copied. Bytes not our own can
    // change under us: nothing when they did.
    std::optional<LoadedFile> Encode(std::span<const std::uint8_t> raw, bool rawIsOurs);
    // Encode's ways: stored raw as the load asks; stored raw as the trusted
    // record says (nothing when the bytes show another hash); the cache's stored
    // form (`found` cleared on a miss); compressed here, and kept in the cache
    // under `key` when there is one.
    std::optional<LoadedFile> EncodeRaw(std::span<const std::uint8_t> raw, bool rawIsOurs, LoadedFile loaded);
    std::optional<LoadedFile> EncodeKnownRaw(std::span<const std::uint8_t> raw, bool rawIsOurs, LoadedFile loaded);
    std::optional<LoadedFile> EncodeFromCache(const CacheKey& key, std::span<const std::uint8_t> raw, bool rawIsOurs,
                                              LoadedFile loaded, bool& found);
    std::optional<LoadedFile> Compress(std::span<const std::uint8_t> raw, bool rawIsOurs, LoadedFile loaded,
                                       const CacheKey* key);
    // The first `needed` bytes of the stored buffer, grown to hold them.
    std::span<std::uint8_t> StoredRoom(std::size_t needed);

    // For stored bytes that are `raw` itself: unless `raw` is ours, a copy in
    // the job's buffer, whose content hash becomes the entry's. Nothing when,
    // with `sameHash`, the copy has another content hash than the one
    // recorded: then the bytes changed since they were hashed.
    std::optional<LoadedFile> Own(LoadedFile loaded, std::span<const std::uint8_t> raw, bool rawIsOurs,
                                  bool sameHash);

    EntryCodec codec_;
    Lz4BlockReader reader_;
    CompressionCache* cache_;
    std::function<void()> betweenPasses_;
    // During a Load with a key: copies of raw bytes are encrypted as they are made.
    const ArchiveKey* encryptWith_ = nullptr;
    // During a Load that asks for it: no compression is tried.
    bool storeRaw_ = false;
    // The level of the Load under way.
    int level_ = CompressionLevel;
    // During a Load of a trusted source that the cache stores raw: its record.
    std::optional<StatusRecords::Record> rawKnown_;
    // The cache key of what the last Encode gave, when it took one.
    std::optional<CacheKey> key_;
    // How far into either buffer the loads since the last ReleaseMemory may have
    // written.
    std::size_t writtenEnd_ = 0;
    // The source of the last load, when it is streamed; closed by the next
    // load or ReleaseMemory.
    std::optional<StreamedSource> streamed_;
};

}  // namespace zelkor
