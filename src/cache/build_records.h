#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cache/cache_directory.h"
#include "cache/record_table.h"
#include "cache/recorded_status.h"
#include "platform/directory.h"

namespace zelkor {

// The last build of each archive that may be left in place when nothing changed:
// a digest of everything its bytes follow from (the command, each source's
// status, the key material), the status of the archive and key file as the
// build left them, and when the oldest of the sources' bytes it holds were last
// proven by a read. Kept in the local cache directory beside StatusRecords, by
// the archive's absolute path.
//
// Thread-safe.
class BuildRecords {
public:
    static constexpr const char* FileName = CacheDirectory::BuildsName;
    static constexpr std::uint32_t Magic = 0x42534B5A;  // "ZKSB"

    struct Record {
        // Of the record of an archive; a volume set's adds a count and the
        // status of each further file.
        static constexpr std::size_t Size = 32 + RecordedStatus::Size + 1 + RecordedStatus::Size + 8;

        std::array<std::uint8_t, 32> inputs{};
        RecordedStatus archive;
        std::optional<RecordedStatus> keyFile;
        // Nanoseconds since the epoch.
        std::int64_t proven = 0;
        // For a volume set (archive and keyFile being its first volume's): its
        // manifest, then each further volume's archive and key file (when it
        // has key files), in order.
        std::vector<RecordedStatus> setFiles;

        bool operator==(const Record& other) const = default;
    };

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
