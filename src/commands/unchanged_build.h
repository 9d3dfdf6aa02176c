#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "archive/archive_crypto.h"
#include "archive/loaded_file.h"
#include "cache/build_records.h"

namespace zelkor {

class VolumeSetWriter;
class CompressionCache;
struct PackCommand;

// A pack command with a key seed whose inputs all match its last build, so
// that the archive and key file at its paths already hold the bytes a build
// would give and are left in place. Inputs are the command itself (every path,
// archived name and Store choice, in order), the key material, the tool's
// version, and for each entry the status of the file its bytes were read from,
// found settled and unchanged while it was read (LoadedFile::settled: per
// entry, so that a path read twice in a run records each read's own status);
// the outputs are the archive and key file at the paths (for a volume set,
// every volume's and the manifest), by identity, size and times, as this tool
// last wrote them. Every status must come from a file system that keeps a true
// change time. A build is recorded only when it printed no warning, so one that
// did is run again in full, warnings and all; and it is left in place only
// while the oldest proof of its sources' bytes is within the trust bound of the
// status records.
//
// Only with a local cache directory that trusts status records (not with
// ZELKOR_CACHE_REHASH).
class UnchangedBuild {
public:
    UnchangedBuild(const PackCommand& pack, const KeyMaterial& material, CompressionCache& cache);

    // Whether the command may be left as its last build left it: every source
    // is a regular file whose status is the one recorded, and the files the
    // created `writer` would replace are the ones recorded. The sources' sizes
    // add up to `bytes`.
    bool Matches(const VolumeSetWriter& writer, std::uint64_t& bytes);

    // After `writer` built the command in full without a warning, `reads[i]`
    // telling how the bytes of source i were come by: records the build, when
    // every source was found settled and unchanged while it was read.
    void Record(const VolumeSetWriter& writer, std::span<const std::optional<LoadedFile::Settled>> reads);

private:
    using Digest = std::array<std::uint8_t, 32>;
    // Whether the files of a volume set beyond its first volume, as a build
    // recorded them (`recorded`), are the ones at their paths now.
    bool SameSetFiles(const VolumeSetWriter& writer, const std::vector<RecordedStatus>& recorded) const;
    // The digest of the inputs with source i's status from `statusOf(name, i)`
    // (nothing: no digest).
    template <typename StatusOf>
    std::optional<Digest> Inputs(StatusOf statusOf) const;

    const PackCommand& pack_;
    const KeyMaterial& material_;
    CompressionCache& cache_;
    std::optional<std::string> archiveName_;
};

}  // namespace zelkor
