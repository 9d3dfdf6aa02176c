#include "commands/unchanged_build.h"

#include <algorithm>
#include <string_view>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "cache/compression_cache.h"
#include "cache/field_hasher.h"
#include "commands/command_reader.h"
#include "platform/file_system.h"
#include "pack/previous_build.h"

namespace zelkor {

namespace {

// Whether `written`, recorded after a build, is the file found now.
bool SameOutput(const std::optional<RecordedStatus>& written, const std::optional<FileStatus>& now)
{
    if (!written || !now)
        return !written && !now;
    return now->IsRegular() && now->keepsChangeTime && RecordedStatus::Of(*now) == *written;
}

// Whether a status of this file system can tell a later change.
bool Telling(const std::optional<FileStatus>& status)
{
    return !status || status->keepsChangeTime;
}

}  // namespace

UnchangedBuild::UnchangedBuild(const PackCommand& pack, const KeyMaterial& material, CompressionCache& cache)
    : pack_(pack), material_(material), cache_(cache), archiveName_(StatusRecords::NameOf(pack.archive.path))
{
}

template <typename StatusOf>
std::optional<UnchangedBuild::Digest> UnchangedBuild::Inputs(StatusOf statusOf) const
{
    if (!archiveName_)
        return std::nullopt;
    FieldHasher hasher;
    hasher.Add("zelkor " ZELKOR_VERSION);
    hasher.Add(*archiveName_);
    if (pack_.keyFile) {
        const std::optional<std::string> keyFile = StatusRecords::NameOf(pack_.keyFile->path);
        if (!keyFile)
            return std::nullopt;
        hasher.Add(*keyFile);
    } else {
        hasher.Add(std::uint64_t{0});
    }
    KeyMaterial material = material_;
    for (Share* share : material.InDrawOrder())
        hasher.Add(std::span<const std::uint8_t>(share->data(), share->size()));
    // A build at another level than the default is other bytes; the default
    // adds nothing, so that builds recorded before levels existed still match.
    if (pack_.level != CompressionLevel) {
        hasher.Add("Level");
        hasher.Add(static_cast<std::uint64_t>(pack_.level));
    }
    hasher.Add(pack_.sources.size());
    for (const PackSource& source : pack_.sources) {
        const std::optional<std::string> name = StatusRecords::NameOf(source.path);
        if (!name)
            return std::nullopt;
        const auto index = static_cast<std::size_t>(&source - pack_.sources.data());
        const std::optional<RecordedStatus> status = statusOf(*name, index);
        if (!status)
            return std::nullopt;
        std::uint8_t bytes[RecordedStatus::Size];
        status->EncodeTo(bytes);
        hasher.Add(*name);
        hasher.Add(std::span<const std::uint8_t>(bytes));
        hasher.Add(source.archivedPath ? std::uint64_t{1} : std::uint64_t{0});
        hasher.Add(source.archivedPath.value_or(""));
        hasher.Add(source.storeRaw ? std::uint64_t{1} : std::uint64_t{0});
    }
    return hasher.Finish();
}

bool UnchangedBuild::Matches(const ArchiveWriter& writer, std::uint64_t& bytes)
{
    StatusRecords* sources = cache_.Sources();
    BuildRecords* builds = cache_.Builds();
    if (!sources || !builds || !sources->Trusting() || !cache_.Usable() || !archiveName_)
        return false;
    const std::optional<BuildRecords::Record> last = builds->Find(*archiveName_);
    if (!last || !sources->Fresh(last->proven) || !SameOutput(last->archive, writer.ReplacedArchive()) ||
        !SameOutput(last->keyFile, writer.ReplacedKeyFile()))
        return false;
    bytes = 0;
    std::vector<std::string> names;
    names.reserve(pack_.sources.size());
    const std::optional<Digest> inputs = Inputs([&](const std::string& name, std::size_t index) {
        const std::optional<FileStatus> status = StatusOf(pack_.sources[index].path);
        if (!status || !status->IsRegular() || !status->keepsChangeTime)
            return std::optional<RecordedStatus>();
        bytes += status->size;
        names.push_back(name);
        return std::optional(RecordedStatus::Of(*status));
    });
    if (!inputs || !last->inputs || *inputs != *last->inputs)
        return false;
    // The sources' records stay in use with the build.
    for (const std::string& name : names)
        sources->Used(name);
    builds->Use(*archiveName_);
    return true;
}

UnchangedBuild::Digest UnchangedBuild::Material() const
{
    FieldHasher hasher;
    hasher.Add("zelkor " ZELKOR_VERSION " entries");
    hasher.Add(pack_.keyFile ? std::uint64_t{1} : std::uint64_t{0});
    KeyMaterial material = material_;
    for (Share* share : material.InDrawOrder())
        hasher.Add(std::span<const std::uint8_t>(share->data(), share->size()));
    hasher.Add(static_cast<std::uint64_t>(pack_.level));
    return hasher.Finish();
}

std::unique_ptr<PreviousBuild> UnchangedBuild::Previous()
{
    StatusRecords* sources = cache_.Sources();
    BuildRecords* builds = cache_.Builds();
    if (!sources || !builds || !sources->Trusting() || !cache_.Usable() || !archiveName_)
        return nullptr;
    std::optional<BuildRecords::Record> last = builds->Find(*archiveName_);
    if (!last || last->material != Material())
        return nullptr;
    return PreviousBuild::Open(pack_.archive.path, std::move(*last), material_.MakeArchiveHeader(), *sources);
}

void UnchangedBuild::Record(const ArchiveWriter& writer, std::span<const std::optional<LoadedFile::Settled>> reads,
                            std::span<const std::size_t> stored, bool quiet)
{
    StatusRecords* sources = cache_.Sources();
    BuildRecords* builds = cache_.Builds();
    if (!sources || !builds || !cache_.Usable() || !archiveName_ || !writer.WrittenArchive() ||
        (pack_.keyFile && !writer.WrittenKeyFile()) || !Telling(writer.WrittenArchive()) ||
        !Telling(writer.WrittenKeyFile()) || reads.size() != pack_.sources.size())
        return;
    BuildRecords::Record record;
    record.archive = RecordedStatus::Of(*writer.WrittenArchive());
    if (writer.WrittenKeyFile())
        record.keyFile = RecordedStatus::Of(*writer.WrittenKeyFile());
    record.material = Material();
    // Left in place by a later run only when it printed no warning and every
    // source was read settled: the status each entry's bytes were read at, and
    // the oldest proof among them.
    std::int64_t proven = sources->Now();
    if (quiet) {
        record.inputs = Inputs([&](const std::string&, std::size_t index) {
            const std::optional<LoadedFile::Settled>& read = reads[index];
            if (!read || !read->status.keepsChangeTime)
                return std::optional<RecordedStatus>();
            proven = std::min(proven, read->proven);
            return std::optional(RecordedStatus::Of(read->status));
        });
    }
    record.proven = proven;
    // Entry k holds source stored[k]; each one whose source was read settled
    // may be copied by a later build, whether or not this one warned.
    const std::vector<ArchiveWriter::WrittenEntry>& written = writer.Entries();
    for (std::size_t k = 0; k < written.size() && written.size() == stored.size(); ++k) {
        const PackSource& source = pack_.sources[stored[k]];
        const std::optional<LoadedFile::Settled>& read = reads[stored[k]];
        const std::optional<std::string> name = StatusRecords::NameOf(source.path);
        if (!read || !read->status.keepsChangeTime || !name)
            continue;
        record.entries.push_back({BuildRecords::SourceOf(*name, RecordedStatus::Of(read->status), source.storeRaw),
                                  written[k].entry, written[k].stored, read->proven});
    }
    if (record.inputs || !record.entries.empty())
        builds->Put(*archiveName_, record);
}

}  // namespace zelkor
