#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "archive/entry_identity.h"
#include "platform/named_path.h"
#include "reader/indexed_archive.h"

namespace zelkor {

// The base that a pack command with PatchOf writes a patch of: its entries by
// name, to tell which of the command's files it holds already, and its names,
// to tell which ones the command no longer lists (the patch's deletions).
//
// A file is the base's when the entry that the base's own lookup gives for its
// name (IndexedArchive::Find) has the file's raw size and content hash; the
// name hash is the name's by then. A name that a command lists more than once
// is decided once, by its first File that was loaded, as a reader of the full
// build would find that one: later ones are stored only when it was.
// Used by one thread.
class PatchBase {
public:
    // Opens the base at `base` (completing a commit a crash left unfinished
    // first) with its key file, BASE.zlk, which holds the names. Nothing, with
    // `failure` set to the warning the command gives, when the key file is
    // missing, or either file cannot be read or breaks the format.
    static std::unique_ptr<PatchBase> Open(const NamedPath& base, std::string& failure);

    // What to do with a loaded file of `name`: nothing yet decided for the
    // name (and the base holds other content, or nothing, under it), or the
    // decision taken for an earlier File of that name.
    enum class Verdict { Store, Skip };
    Verdict Judge(const std::string& name, std::uint64_t rawSize, std::uint32_t contentHash);
    // The name was stored in the patch (after Judge said Store).
    void Stored(const std::string& name);

    // The base's names that no File of the command decided, each once, in the
    // base's order: the patch's deletions. Only names that hash to their
    // entry's name hash count.
    std::vector<std::string> Deleted() const;

    ArchiveIdentity Identity() const { return identity_; }

private:
    explicit PatchBase(std::unique_ptr<ReadableArchive> archive);

    // Anything that reads as one archive (a volume set, say) serves.
    std::unique_ptr<ReadableArchive> archive_;
    ArchiveIdentity identity_;
    // By normalised name: whether the first File decided was stored.
    std::unordered_map<std::string, bool> decided_;
};

}  // namespace zelkor
