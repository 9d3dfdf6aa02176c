#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/stored_hash.h"
#include "platform/directory.h"
#include "records/record_table.h"
#include "records/recorded_status.h"
#include "store/cache_directory.h"

namespace zelkor {

// The last build of each archive that may be left in place when nothing changed:
// a digest of everything its bytes follow from (the command, each source's
// status, the key material), the status of the archive and key file as the
// build left them, and when the oldest of the sources' bytes it holds were last
// proven by a read. With it, what each entry of the archive holds: the source
// its bytes were read from (by name, status and Store choice), its FileEntry,
// the digest of its stored bytes and when they were proven, so that a later
// build of the same archive with the same key material may copy the entries of
// unchanged sources (PreviousBuild). For a volume set, also the status of every
// further file of the set. Kept in the local cache directory beside
// StatusRecords, by the archive's absolute path.
//
// Thread-safe.
class BuildRecords {
public:
    static constexpr const char* FileName = CacheDirectory::BuildsName;
    static constexpr std::uint32_t Magic = 0x42534B5A;  // "ZKSB"

    using Digest = std::array<std::uint8_t, 32>;

    struct Record {
        // One entry of the archive, in the archive's order.
        struct Entry {
            static constexpr std::size_t Size = 32 + FileEntry::Size + 16 + 8;

            // SourceOf the file its bytes were read from.
            Digest source{};
            // As written; its dataOffset tells where it lies.
            FileEntry entry;
            StoredHash::Digest stored{};
            // When its bytes were last read and hashed, in nanoseconds since the epoch.
            std::int64_t proven = 0;

            bool operator==(const Entry& other) const = default;
        };

        // The payload without entries and without a set's further files,
        // which follow the entries as a count and the statuses.
        static constexpr std::size_t FixedSize = 1 + 32 + RecordedStatus::Size + 1 + RecordedStatus::Size + 8 + 32 + 4;

        // The digest of everything the archive's bytes follow from; nothing
        // when the build may not be left in place (it warned, or a source was
        // not read settled), and only its entries may be copied.
        std::optional<Digest> inputs;
        RecordedStatus archive;
        std::optional<RecordedStatus> keyFile;
        // Nanoseconds since the epoch.
        std::int64_t proven = 0;
        // The digest of what every entry's stored bytes follow from besides its
        // source (the key material, the level, the tool's version): entries
        // are copied only into a build of the same.
        Digest material{};
        std::vector<Entry> entries;
        // For a volume set (archive and keyFile being its first volume's): its
        // manifest, then each further volume's archive and key file (when it
        // has key files), in order. Empty for an archive alone.
        std::vector<RecordedStatus> setFiles;

        bool operator==(const Record& other) const = default;
    };

    // What an entry's source is known by: the digest of its name, the status
    // of the file its bytes were read from, and its Store choice.
    static Digest SourceOf(const std::string& name, const RecordedStatus& status, bool storeRaw);

    BuildRecords(const Directory& directory, std::size_t limit, std::int64_t now);

    // The last build recorded at `archive`.
    std::optional<Record> Find(const std::string& archive) const;
    // Records a build at `archive`, replacing the last.
    void Put(const std::string& archive, const Record& record) { table_.Put(archive, Encode(record)); }
    // The build at `archive` was found unchanged and used.
    void Use(const std::string& archive) { table_.Use(archive); }

    bool Flush() { return table_.Flush(); }

    static std::vector<std::uint8_t> Encode(const Record& record);
    static std::optional<Record> Decode(std::span<const std::uint8_t> payload);

private:
    RecordTable table_;
};

}  // namespace zelkor
