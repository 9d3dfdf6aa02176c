#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <memory>
#include <vector>

#include "reader/archive_reader.h"
#include "reader/set_reader.h"
#include "inspect/json_document.h"
#include "platform/hex.h"

namespace zelkor {

// The archive that a command works on, read with the key file chosen for it, and
// how its entries are named in the tool's output.
//
// An archive does not record whether a key file belongs to it, so the choice is
// the user's: by default the archive's path + ".zlk" when something exists
// there, otherwise none. A rebuild of the pair that a crash cut short between
// its two renames is completed first (JointCommit::Complete).
//
// A volume set is read wherever an archive is: named by its manifest, or by
// its first volume with the manifest beside it. The key file choice is the
// first volume's, and the other volumes' key files are named from it; every
// volume is checked against the manifest before anything is read.
class InspectedArchive {
public:
    enum class KeyChoice {
        Default,  // ARCHIVE.zlk when it exists
        Given,    // the key file named by the user
        None,     // the archive alone
    };

    // Opens and checks both files; throws ArchiveFormatError or
    // std::runtime_error as ArchiveReader does. `keyPath` is used with Given only.
    InspectedArchive(const std::string& archivePath, KeyChoice choice, const std::string& keyPath = {});

    const SetReader& Reader() const { return *reader_; }
    // As given: an archive, or a set's manifest or first volume.
    const std::string& ArchivePath() const { return archivePath_; }
    // The key file read (a set's first volume's), if any; entries have names
    // exactly when there is one.
    const std::optional<std::string>& KeyPath() const { return keyPath_; }
    bool HasNames() const { return keyPath_.has_value(); }
    // The set's volumes; null for an archive.
    const SetVolumes* Volumes() const { return reader_->Volumes(); }

    // How an entry is named in text output: its archived name with control
    // bytes shown as \xNN, or without names its name hash in hex.
    std::string Label(const ArchiveReader::Entry& entry) const;
    // "entry 3 (data/readme.txt)"
    std::string Describe(const ArchiveReader::Entry& entry) const;

    // Empty when the entry's name hashes to its name hash, or without names;
    // otherwise "name hash 12345678 does not match its name, whose hash is ...".
    std::string NameHashMismatch(const ArchiveReader::Entry& entry) const;

    // The members that identify an entry in JSON output, as an object: "index",
    // "name" (null without names), "nameHex" (the name's bytes in hex, only when
    // the name is not valid UTF-8 and "name" therefore lost bytes), "nameHash",
    // and for a set "volume".
    JsonDocument::Value Identity(const ArchiveReader::Entry& entry) const;

    // The members that identify the archive in JSON output, as an object:
    // "archive" and "keyFile" (null without a key file); for a set also
    // "manifest" and "volumes", each {"archive", "keyFile", "entries", "size"}.
    JsonDocument::Value Files() const;

    // "with key file PATH" or "without a key file"; for a set "as a set of 4
    // volumes with key files numbered from PATH" or "... without key files".
    std::string KeyFileSummary() const;
    // Whether every entry with content failing to decode points at the key file
    // choice rather than at damage, and what to do then. `withContent` entries
    // had content, every one failed, and `failed` is one of them. Two or more
    // point at the key; a single one does only when it decodes with the other
    // choice (the archive alone, when a key file was read). Nothing when damage
    // is as likely.
    std::optional<std::string> KeyFileHint(std::uint64_t withContent, const ArchiveReader::Entry& failed) const;

    // `bytes` with control characters shown as \xNN per byte, so that a name
    // cannot break a line of output or drive the terminal: C0 controls and DEL,
    // and C1 controls (U+0080 to U+009F) whether as UTF-8 or as single bytes
    // outside UTF-8 sequences. Everything else is shown as it is.
    static std::string Printable(std::string_view bytes);

    // Completes a commit of the archive and its key file (of a set, recorded
    // beside its first volume) that a crash left unfinished, before either is
    // opened; gives `archivePath` back.
    static const std::string& CompleteCommit(const std::string& archivePath);
    // The key file that `choice` reads for the archive at `archivePath`, or
    // for the set it names (its first volume's).
    static std::optional<std::string> ChooseKeyFile(const std::string& archivePath, KeyChoice choice,
                                                    const std::string& keyPath);

private:

    std::string archivePath_;
    std::optional<std::string> keyPath_;
    std::unique_ptr<SetReader> reader_;
};

}  // namespace zelkor
