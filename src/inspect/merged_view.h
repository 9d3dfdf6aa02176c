#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "archive/deletion_list.h"
#include "inspect/entry_selector.h"
#include "inspect/json_document.h"
#include "reader/indexed_archive.h"
#include "reader/mount_list.h"

namespace zelkor {

class KeyFileOptions;

// Several archives of one command line read as a game's mount list reads them
// (MountList): the first at the bottom, each one named by --mount above those
// before it, and a patch's deletion list (ARCHIVE.del) hiding its names below
// it. The merged view is a tree of names, so every archive is read with its key
// file: the command's choice for the first, ARCHIVE.zlk for the others. A
// commit a crash left unfinished is completed before an archive is opened.
// Used by one thread.
class MergedView {
public:
    struct Source {
        std::string archive;  // as given
        std::optional<std::string> keyFile;
        std::unique_ptr<ReadableArchive> reader;
        std::optional<DeletionList> deletions;  // for a patch
        // For a patch: the source below it whose identity is the base it was
        // made against, if any is.
        std::optional<std::size_t> base;
    };

    struct Entry {
        std::size_t source = 0;  // in Sources()
        std::uint64_t index = 0;  // in that source
        std::string_view name;   // as that source spells it
        FileEntry fields;
    };

    // Throws ArchiveFormatError or std::runtime_error as InspectedArchive, and
    // std::runtime_error for an archive read without a key file.
    MergedView(const std::vector<std::string>& archives, const KeyFileOptions& firstKey);
    MergedView(const MergedView&) = delete;
    MergedView& operator=(const MergedView&) = delete;

    const std::vector<Source>& Sources() const { return sources_; }

    // Calls `visit` with every entry of the merged tree that `selector`
    // selects, in the order of their normalised names.
    void ForEach(EntrySelector& selector, const std::function<void(const Entry&)>& visit) const;

    // The entry's content, checked (see ReadableArchive::Read).
    EntryReader::Status Read(const Entry& entry, std::vector<std::uint8_t>& content) const;

    // "patch.pak: entry 3 (data/readme.txt)", for messages.
    std::string Describe(const Entry& entry) const;
    // "the merged view of 3 archives"
    std::string Summary() const;

    // The sources, one line each, bottom first, with their key files, and for
    // a patch how many names it deletes and of which base; then a note for a
    // patch whose base is not below it.
    void PrintSources(std::ostream& out) const;
    // [{"archive", "keyFile", "deletions" (null, or the number of names),
    // "patchOf" (null, or the archive of its base below it)}]
    JsonDocument::Value SourcesJson() const;
    // {"archive", "index", "name", ["nameHex"], "nameHash"}
    JsonDocument::Value Identity(const Entry& entry) const;

private:
    std::vector<Source> sources_;
    MountList mounts_;  // after the sources, which it points into
};

}  // namespace zelkor
