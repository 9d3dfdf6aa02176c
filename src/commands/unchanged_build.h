#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "archive/archive_crypto.h"
#include "archive/loaded_file.h"
#include "records/build_records.h"

namespace zelkor {

class VolumeSetWriter;
class CompressionCache;
class PreviousBuild;
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
// change time. Only a build that printed no warning is left in place, so one
// that did is run again, warnings and all; and only while the oldest proof of
// its sources' bytes is within the trust bound of the status records.
//
// A build that is not left in place may still copy the entries of its
// unchanged sources from the last one (Previous): the build record keeps, for
// each entry, the source it was read from and what the archive holds there.
// Entries are copied into an archive alone, not into a volume set.
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

    // The last build of the command's archive, when it was built with the same
    // key material, key file or not, and level, and is still the file at the
    // archive's path: its entries of unchanged sources may be copied into the
    // new build (FileJob::Options::previous). Nothing otherwise.
    std::unique_ptr<PreviousBuild> Previous();

    // After `writer` built the command, keeping its entries
    // (VolumeSetWriter::KeepEntries), with entry k holding source `stored[k]`,
    // `reads[i]` telling how the bytes of source i were come by, and `quiet`
    // when it printed no warning: records the build. A later run may leave it
    // in place when it was quiet and every source was found settled and
    // unchanged while it was read; and copy from it the entries of such
    // sources in any case.
    void Record(const VolumeSetWriter& writer, std::span<const std::optional<LoadedFile::Settled>> reads,
                std::span<const std::size_t> stored, bool quiet);

private:
    using Digest = std::array<std::uint8_t, 32>;
    // What a build record keeps of a set's further files: its manifest, then
    // each further volume's archive and key file; none for a lone archive, and
    // nothing when one of them cannot be told apart from a later change.
    std::optional<std::vector<RecordedStatus>> SetFiles(const VolumeSetWriter& writer) const;
    // Whether the files of a volume set beyond its first volume, as a build
    // recorded them (`recorded`), are the ones at their paths now.
    bool SameSetFiles(const VolumeSetWriter& writer, const std::vector<RecordedStatus>& recorded) const;
    // The digest of the inputs with source i's status from `statusOf(name, i)`
    // (nothing: no digest).
    template <typename StatusOf>
    std::optional<Digest> Inputs(StatusOf statusOf) const;
    // The digest of what the entries' stored bytes follow from besides their
    // sources: the tool's version, the key material and whether a key file
    // shares it, and the level.
    Digest Material() const;

    const PackCommand& pack_;
    const KeyMaterial& material_;
    CompressionCache& cache_;
    std::optional<std::string> archiveName_;
};

}  // namespace zelkor
