#include "commands/unchanged_build.h"

#include <algorithm>
#include <string_view>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "cache/compression_cache.h"
#include "commands/command_reader.h"
#include "commands/volume_set_writer.h"
#include "pack/previous_build.h"
#include "platform/file_system.h"
#include "records/field_hasher.h"

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
    // Only a set's builds hash its volume size, so that an archive's keep the
    // digest they always had.
    if (pack_.volumeSize) {
        hasher.Add("volume size");
        hasher.Add(*pack_.volumeSize);
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

bool UnchangedBuild::SameSetFiles(const VolumeSetWriter& writer, const std::vector<RecordedStatus>& recorded) const
{
    if (!pack_.volumeSize || recorded.empty())
        return !pack_.volumeSize && recorded.empty();
    // The manifest, then each further volume's archive and key file.
    std::vector<std::string> paths = {writer.ManifestPath()};
    for (std::size_t volume = 1; paths.size() < recorded.size(); ++volume) {
        const NamedPath archive = writer.VolumeArchive(volume);
        paths.push_back(archive.path);
        if (const std::optional<NamedPath> keyFile = writer.VolumeKeyFile(volume, archive))
            paths.push_back(keyFile->path);
    }
    if (paths.size() != recorded.size())
        return false;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!SameOutput(recorded[i], StatusOf(paths[i])))
            return false;
    }
    return true;
}

bool UnchangedBuild::Matches(const VolumeSetWriter& writer, std::uint64_t& bytes)
{
    StatusRecords* sources = cache_.Sources();
    BuildRecords* builds = cache_.Builds();
    if (!sources || !builds || !sources->Trusting() || !cache_.Usable() || !archiveName_)
        return false;
    const std::optional<BuildRecords::Record> last = builds->Find(*archiveName_);
    const ArchiveWriter& first = writer.Volume(0);
    if (!last || !sources->Fresh(last->proven) || !SameOutput(last->archive, first.ReplacedArchive()) ||
        !SameOutput(last->keyFile, first.ReplacedKeyFile()) || !SameSetFiles(writer, last->setFiles))
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
    // A volume set's entries are not kept, and its first volume is not the set.
    if (!last || last->material != Material() || !last->setFiles.empty() || pack_.volumeSize)
        return nullptr;
    return PreviousBuild::Open(pack_.archive.path, std::move(*last), material_.MakeArchiveHeader(), *sources);
}

std::optional<std::vector<RecordedStatus>> UnchangedBuild::SetFiles(const VolumeSetWriter& writer) const
{
    std::vector<RecordedStatus> setFiles;
    if (!writer.IsSet())
        return setFiles;
    if (!writer.WrittenManifest() || !Telling(writer.WrittenManifest()))
        return std::nullopt;
    setFiles.push_back(RecordedStatus::Of(*writer.WrittenManifest()));
    for (std::size_t volume = 1; volume < writer.VolumeCount(); ++volume) {
        const ArchiveWriter& written = writer.Volume(volume);
        if (!written.WrittenArchive() || (pack_.keyFile && !written.WrittenKeyFile()) ||
            !Telling(written.WrittenArchive()) || !Telling(written.WrittenKeyFile()))
            return std::nullopt;
        setFiles.push_back(RecordedStatus::Of(*written.WrittenArchive()));
        if (pack_.keyFile)
            setFiles.push_back(RecordedStatus::Of(*written.WrittenKeyFile()));
    }
    return setFiles;
}

void UnchangedBuild::Record(const VolumeSetWriter& writer, std::span<const std::optional<LoadedFile::Settled>> reads,
                            std::span<const std::size_t> stored, bool quiet)
{
    StatusRecords* sources = cache_.Sources();
    BuildRecords* builds = cache_.Builds();
    const ArchiveWriter& first = writer.Volume(0);
    if (!sources || !builds || !cache_.Usable() || !archiveName_ || !first.WrittenArchive() ||
        (pack_.keyFile && !first.WrittenKeyFile()) || !Telling(first.WrittenArchive()) ||
        !Telling(first.WrittenKeyFile()) || reads.size() != pack_.sources.size())
        return;
    std::optional<std::vector<RecordedStatus>> setFiles = SetFiles(writer);
    if (!setFiles)
        return;
    BuildRecords::Record record;
    record.archive = RecordedStatus::Of(*first.WrittenArchive());
    if (first.WrittenKeyFile())
        record.keyFile = RecordedStatus::Of(*first.WrittenKeyFile());
    record.material = Material();
    record.setFiles = std::move(*setFiles);
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
    // may be copied by a later build, whether or not this one warned. The
    // entries of a volume set are not copied: they are not kept.
    const std::vector<ArchiveWriter::WrittenEntry>& written = first.Entries();
    for (std::size_t k = 0; !writer.IsSet() && k < written.size() && written.size() == stored.size(); ++k) {
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
