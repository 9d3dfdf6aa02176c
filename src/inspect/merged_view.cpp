#include "inspect/merged_view.h"

#include <iomanip>
#include <stdexcept>

#include "inspect/inspect_messages.h"
#include "inspect/inspected_archive.h"
#include "inspect/key_file_options.h"
#include "platform/file_system.h"
#include "platform/hex.h"
#include "platform/utf8.h"
#include "reader/file_source.h"
#include "reader/patch_deletions.h"
#include "reader/set_volumes.h"
#include "reader/volume_set.h"

namespace zelkor {

MergedView::MergedView(const std::vector<std::string>& archives, const KeyFileOptions& firstKey)
{
    for (std::size_t i = 0; i < archives.size(); ++i) {
        Source source;
        source.archive = InspectedArchive::CompleteCommit(archives[i]);
        source.keyFile = i == 0 ? firstKey.KeyFileFor(source.archive)
                                : InspectedArchive::ChooseKeyFile(source.archive,
                                                                  InspectedArchive::KeyChoice::Default, {});
        if (!source.keyFile)
            throw std::runtime_error(inspect_message::MergedViewWithoutNames(source.archive));
        // A volume set is mounted as one archive; a patch's deletion list lies
        // beside its first volume.
        source.reader = VolumeSet::OpenArchiveOrSet(source.archive, &*source.keyFile);
        const std::optional<std::string> manifest = SetVolumes::ManifestFor(source.archive);
        const std::string listPath =
            DeletionList::PathFor(manifest ? SetVolumes::FirstVolumeOf(*manifest) : source.archive);
        if (StatusOf(listPath))
            source.deletions = PatchDeletions::Read(FileSource(listPath), *source.reader);
        sources_.push_back(std::move(source));
    }
    for (std::size_t i = 0; i < sources_.size(); ++i) {
        Source& source = sources_[i];
        if (source.deletions) {
            for (std::size_t below = i; below-- > 0;) {
                if (sources_[below].reader->Identity() == source.deletions->base) {
                    source.base = below;
                    break;
                }
            }
        }
        MountList::Layer layer;
        layer.name = std::to_string(i);
        layer.priority = static_cast<int>(i);
        layer.archive = source.reader.get();
        layer.owner = std::shared_ptr<const void>(source.reader.get(), [](const void*) {});
        if (source.deletions)
            layer.hidden = source.deletions->names;
        mounts_.Mount(std::move(layer));
    }
}

void MergedView::ForEach(EntrySelector& selector, const std::function<void(const Entry&)>& visit) const
{
    mounts_.List("", true, [&](const MountList::Listed& listed) {
        if (!selector.Selects(listed.path))
            return true;
        Entry entry;
        while (sources_[entry.source].reader.get() != listed.archive)
            ++entry.source;
        entry.index = listed.index;
        entry.name = listed.path;
        entry.fields = listed.archive->Fields(listed.index);
        visit(entry);
        return true;
    });
}

EntryReader::Status MergedView::Read(const Entry& entry, std::vector<std::uint8_t>& content) const
{
    content.resize(entry.fields.rawSize);
    FileEntry fields;
    const std::optional<EntryReader::Status> status = sources_[entry.source].reader->Read(entry.index, content, fields);
    // The buffer is the entry's size, as the records said a moment ago; had
    // they changed since, the read would have thrown.
    return status.value_or(EntryReader::Status::HashMismatch);
}

std::string MergedView::Describe(const Entry& entry) const
{
    return InspectedArchive::Printable(sources_[entry.source].archive) + ": entry " + std::to_string(entry.index) +
           " (" + InspectedArchive::Printable(entry.name) + ")";
}

std::string MergedView::Summary() const
{
    return "the merged view of " + std::to_string(sources_.size()) + " archives";
}

void MergedView::PrintSources(std::ostream& out) const
{
    out << Summary() << ", each above those before it:\n";
    for (std::size_t i = 0; i < sources_.size(); ++i) {
        const Source& source = sources_[i];
        out << std::setw(7) << i << "  " << InspectedArchive::Printable(source.archive) << ", with key file "
            << InspectedArchive::Printable(*source.keyFile);
        if (source.deletions) {
            const std::size_t names = source.deletions->names.size();
            out << ", a patch deleting " << names << (names == 1 ? " name" : " names");
            if (source.base)
                out << " of " << InspectedArchive::Printable(sources_[*source.base].archive);
        }
        out << '\n';
    }
    for (const Source& source : sources_) {
        if (source.deletions && !source.base)
            out << "note: " << InspectedArchive::Printable(source.archive)
                << " is a patch of another base than any archive below it (a base of "
                << source.deletions->base.entries << " entries, identity " << Hex64(source.deletions->base.digest)
                << ")\n";
    }
}

JsonDocument::Value MergedView::SourcesJson() const
{
    JsonDocument::Value sources = JsonDocument::Value::array();
    for (const Source& source : sources_) {
        JsonDocument::Value item;
        item["archive"] = JsonDocument::Text(source.archive);
        item["keyFile"] = JsonDocument::Text(*source.keyFile);
        item["deletions"] = source.deletions ? JsonDocument::Value(source.deletions->names.size()) : nullptr;
        item["patchOf"] = source.base ? JsonDocument::Text(sources_[*source.base].archive) : JsonDocument::Value(nullptr);
        sources.push_back(item);
    }
    return sources;
}

JsonDocument::Value MergedView::Identity(const Entry& entry) const
{
    JsonDocument::Value identity;
    identity["archive"] = JsonDocument::Text(sources_[entry.source].archive);
    identity["index"] = entry.index;
    identity["name"] = JsonDocument::Text(entry.name);
    if (!IsValidUtf8(entry.name))
        identity["nameHex"] = HexBytes(entry.name);
    identity["nameHash"] = Hex32(entry.fields.nameHash);
    return identity;
}

}  // namespace zelkor
