#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/directory.h"

namespace zelkor {

// A small file of records in the cache directory, read and written whole: a
// header (its kind, the format's version, the fingerprint of the cache keys it
// was made with, and the machine it was made on), the body, and an XXH64
// checksum of everything before it. docs/format.md gives the layout.
//
// Written beside its name and renamed into place, so that concurrent runs on
// one directory each put a whole file there (the last rename wins) and a
// reader never sees a torn one. A file that is cut short, damaged, of another
// kind or version, made with other cache keys (another LZ4 version or level)
// or on another machine (a cache directory shared over the network), or that
// someone else than this process's user owns or may write, reads as missing:
// what it says is only ever this machine's, and this user's, own word.
class RecordFile {
public:
    // 2: statuses carry the mount and file system, source records the time
    // they were last proven, build records theirs. 3: build records hold
    // their entries.
    static constexpr std::uint32_t Version = 3;

    static constexpr std::size_t MagicAt = 0;
    static constexpr std::size_t VersionAt = 4;
    static constexpr std::size_t FingerprintAt = 8;
    static constexpr std::size_t MachineAt = 40;
    static constexpr std::size_t BodySizeAt = 72;
    static constexpr std::size_t HeaderSize = 80;
    static constexpr std::size_t ChecksumSize = 8;

    // The body of the file `name` in `directory`, when it is whole, of kind
    // `magic`, of this version and with this build's fingerprint, and at most
    // `limit` bytes long.
    static std::optional<std::vector<std::uint8_t>> Read(const Directory& directory, const std::string& name,
                                                         std::uint32_t magic, std::size_t limit);

    // Replaces the file `name` by one of kind `magic` holding `body`. False
    // when it cannot be written; whatever stood there then stays.
    static bool Write(const Directory& directory, const std::string& name, std::uint32_t magic,
                      std::span<const std::uint8_t> body);

    // The file's bytes around `body`, and the body of such bytes (nothing when
    // they are not a whole, matching file): what Write and Read put and find.
    static std::vector<std::uint8_t> Encode(std::uint32_t magic, std::span<const std::uint8_t> body);
    static std::optional<std::vector<std::uint8_t>> Decode(std::span<const std::uint8_t> bytes, std::uint32_t magic);
};

}  // namespace zelkor
