#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_crypto.h"
#include "archive/archive_format.h"
#include "archive/entry_identity.h"
#include "archive/entry_stream.h"
#include "archive/loaded_file.h"
#include "archive/records_digest.h"
#include "archive/stored_hash.h"
#include "output/output_guard.h"
#include "platform/file.h"
#include "platform/named_path.h"

namespace zelkor {

// Writes one archive and, when asked, its key file, front to back: Create draws
// fresh key material (or takes what it is given) and writes both headers,
// AddFile encrypts one file's stored bytes and appends its entry, Close puts
// both files in place.
//
// Both files are written beside their paths (OutputGuard) and appear only when
// Close succeeds: their data is flushed to the disk, then the key file and the
// archive are renamed into place together (JointCommit). Until then, and for
// good when the writer is destroyed without Close (an exception passed) or a
// write fails, whatever stood at the two paths stays as it was and the
// temporary files are removed. Create first completes a commit of the archive
// that a crash left unfinished.
//
// While a writer holds its paths, they are locked: a second Create on either
// path, from this process or another, fails and disturbs nothing.
//
// A failed or short write, a failed position query, or a failed flush or rename
// throws ArchiveWriteError (naming the path as shown), after both
// temporary files have been removed.
//
// Used by one thread at a time; writers share no state, so any number may work at
// once (after PrepareCrypto).
class ArchiveWriter {
public:
    ArchiveWriter() = default;
    // Without a successful Close, removes what was being written.
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Closes whatever the writer still holds, draws new key material, and starts
    // the archive and, when `keyFile` is not null, the key file, with their
    // headers. False when a path cannot be created (a missing or unwritable
    // directory, a path that is not a regular file or cannot be opened for
    // writing, something other than a file of the user's own at the name of the
    // archive's commit record) or is held by another writer; FailedPath then
    // names it as shown (the key file when it failed first), and nothing at
    // either path has changed.
    bool Create(const NamedPath& archive, const NamedPath* keyFile);

    // The same with the given key material instead of fresh random blocks. False
    // too, for the key file, when its shares would leave the key alone
    // (ArchiveKey::LeavesKeyAlone), a key file that every reader refuses.
    bool Create(const NamedPath& archive, const NamedPath* keyFile, const KeyMaterial& material);

    // Plain paths, which messages show as they are.
    bool Create(const std::string& archivePath, const std::string* keyPath);
    bool Create(const std::string& archivePath, const std::string* keyPath, const KeyMaterial& material);

    // After Create returned false: the path that could not be created, as
    // shown, and whether another writer holds it.
    const std::string& FailedPath() const { return failedPath_; }
    bool FailedHeld() const { return held_; }

    // The files this writer writes or replaces (the temporary files and the
    // files now at the two paths), by identity, so that a command never reads
    // its own outputs.
    std::vector<FileStatus> Outputs() const;

    // The key that encrypts every entry; set by Create.
    const ArchiveKey& Key() const { return key_; }

    // Before Create: a third file, written with the archive and put in place
    // in the same commit (a patch's deletion list), at `path`. Create then
    // creates and locks it as it does the key file, and fails for it the same
    // way. Its bytes are given before Close (CompanionBytes); it stays until
    // the next Create.
    void AddCompanion(const NamedPath& path) { companionPath_ = path; }
    void CompanionBytes(std::vector<std::uint8_t> bytes) { companionBytes_ = std::move(bytes); }

    // The ArchiveIdentity of the entries added since Create.
    ArchiveIdentity Identity() const { return identity_.Value(); }

    // Appends one file: encrypts its stored bytes in place (unless they come
    // encrypted already), writes its NameRecord
    // to the key file (if any), then its FileEntry and the encrypted bytes to the
    // archive. Returns false, having written and changed nothing, when the format
    // cannot hold the entry: a raw size of 4 GiB or more, more stored bytes than
    // raw ones, an archived path longer than MaxNameLength or holding a NUL byte
    // (no reader could write such a name out), or stored bytes that would reach
    // past ArchiveAddressLimit. Only valid after a successful Create.
    bool AddFile(const std::string& archivedPath, LoadedFile& file);

    // Appends one file whose stored bytes are its raw bytes, read from
    // `file.stream` a piece at a time, hashed, encrypted and written, so that no
    // buffer holds the whole file; the entry is the one AddFile writes for the
    // same bytes. Refused as AddFile refuses, having written nothing. Changed
    // when the bytes read are not `file.rawSize` bytes of `file.contentHash`
    // (the source changed since it was measured, or cannot be read): what was
    // written of the entry is taken back, and the archive is as before.
    enum class Streamed { Added, Refused, Changed };
    Streamed AddStreamed(const std::string& archivedPath, const LoadedFile& file);
    // Whether an archive with no entry yet could hold this one: what AddFile
    // refuses whatever the archive holds already.
    static bool CouldHold(const std::string& archivedPath, const LoadedFile& file);
    // The bytes the entry stores: its raw size when it is streamed.
    static std::uint64_t StoredSize(const LoadedFile& file);

    // Whether the last AddFile or AddStreamed refused its entry only because the archive
    // would pass ArchiveAddressLimit with it, an entry a fresh archive could
    // hold.
    bool Full() const { return full_; }

    // What has been written to the archive so far: its length, its entries,
    // and the digest of its header and records (RecordsDigest).
    std::uint64_t Size() const { return size_; }
    std::uint64_t EntryCount() const { return entryCount_; }
    std::uint64_t RecordsHash() const { return digest_.Value(); }
    // RecordsDigest::KeyFile of the key file's header; 0 without a key file.
    std::uint64_t KeyFileHash() const { return keyFileHash_; }

    // What was written for one entry: its record, and the digest of its stored
    // bytes as written (StoredHash).
    struct WrittenEntry {
        FileEntry entry;
        StoredHash::Digest stored{};
    };
    // From now until the next Create, every entry added is kept in Entries(),
    // in the order of the archive, so that a build record can say what each
    // range of the archive holds.
    void KeepEntries() { keepEntries_ = true; }
    const std::vector<WrittenEntry>& Entries() const { return entries_; }

    // Puts both files in place (see above). Nothing to do when no file is open.
    void Close();

    // Gives up what Create started: the temporary files are removed, the locks
    // released, and whatever stands at both paths stays as it is.
    void Abandon();

    // For a commit of several writers' files as one (a volume set), instead of
    // Close: Seal flushes the files to the disk and closes them (throwing
    // ArchiveWriteError as Close does when that fails), and gives their
    // guards in the order of the renames (key file, companion, archive) for
    // JointCommit to put in place together with others; Committed once they
    // are. Without `withCompanion` the companion is left open for its bytes,
    // and left out. ShownPathOf names a guard that failed as messages show it.
    std::vector<OutputGuard*> Seal(bool withCompanion = true);
    void Committed();
    const std::string& ShownPathOf(const OutputGuard* guard) const;

    // After a successful Create: the files now at the two paths, which Close
    // would replace (nothing when there is none, or no key file is written).
    std::optional<FileStatus> ReplacedArchive() const;
    std::optional<FileStatus> ReplacedKeyFile() const;

    // After a successful Close: the status of the files this writer put at the
    // two paths, as found there right after (nothing when another file stood
    // there by then, or no key file was written).
    const std::optional<FileStatus>& WrittenArchive() const { return writtenArchive_; }
    const std::optional<FileStatus>& WrittenKeyFile() const { return writtenKeyFile_; }

private:
    [[noreturn]] void FailWriting(const OutputGuard& failed);
    // A guarded output at `path`, opened and locked; nothing, with the path
    // kept as the failed one, when it cannot be.
    std::unique_ptr<OutputGuard> OpenOutput(const NamedPath& path);
    // Copies a streamed source's bytes after its entry, encrypted, hashing them
    // (into `digest` too when there is one) as they pass; false when they are
    // not the bytes measured: they changed, or the source grew or shrank.
    bool CopyStream(const LoadedFile& file, std::optional<StoredHash>& digest);
    // Resets what a new archive counts and writes both headers.
    void Begin(const ArchiveHeader& archiveHeader, const KeyFileHeader& keyFileHeader);

    // The paths as shown, for messages.
    std::string archiveShown_;
    std::string keyFileShown_;

    ArchiveKey key_;
    std::unique_ptr<OutputGuard> archive_;
    std::unique_ptr<OutputGuard> keyFile_;
    std::optional<NamedPath> companionPath_;
    std::unique_ptr<OutputGuard> companion_;
    std::vector<std::uint8_t> companionBytes_;
    EntryIdentity identity_;
    std::string failedPath_;
    bool held_ = false;
    std::optional<FileStatus> writtenArchive_;
    std::optional<FileStatus> writtenKeyFile_;
    bool keepEntries_ = false;
    std::vector<WrittenEntry> entries_;
    // Archive bytes from here on have not been handed to the disk yet.
    std::uint64_t writebackFrom_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t entryCount_ = 0;
    RecordsDigest digest_;
    bool full_ = false;
    std::uint64_t keyFileHash_ = 0;
    // The files' status before a commit, to tell the written ones after it.
    std::optional<FileStatus> archiveWritten_;
    std::optional<FileStatus> keyFileWritten_;
    static constexpr std::uint64_t WritebackStep = 8 * 1024 * 1024;
};

}  // namespace zelkor
