#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "output/output_lock.h"
#include "output/signal_cleanup.h"
#include "platform/file.h"

namespace zelkor {

// Writes a new version of a file beside it and puts it in place only when it is
// complete: Commit renames the temporary file over the target, so whoever opens
// the target sees the old content or the new, never a part of it, and two
// writers of one target never leave a torn file. Without a successful Commit,
// the temporary file is removed (on destruction, and by SignalCleanup when a
// signal ends the process) and the target is left as it was. After a hard kill
// or a power loss only a temporary file can be left, named ".NAME.zelkor-XXXXXX"
// beside the target.
//
// A target that is a symbolic link stays one: the new file replaces the file the
// link leads to. In a directory that everybody may write to and that only lets
// a name's owner remove it (/tmp), a link is followed only when the directory's
// owner or the process's user owns it, as the system's own rule for such
// directories says; any other link there makes Open fail (EACCES). A replaced
// file's permission bits, owner and group are given to the new one as far as
// the process may give them.
//
// With `lock`, Open also takes the target's OutputLock, which every other guard
// with `lock` on the same file (by any spelling or link, from this process or
// another) respects: while one holds it, the other's Open fails and touches
// nothing. It is released when the guard is done.
//
// With `sync`, the data reaches the disk before the rename, and the
// rename itself before Commit returns.
//
// Commit is Prepare, Place and Finish in one; JointCommit calls them one by one
// to put several guards' files in place together.
class OutputGuard {
public:
    struct Options {
        bool lock = false;
        bool sync = false;
    };

    explicit OutputGuard(std::string target, Options options);
    explicit OutputGuard(std::string target) : OutputGuard(std::move(target), Options{}) {}
    ~OutputGuard();
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;

    // Takes the lock (with `lock`) and creates the temporary file. False, with
    // nothing changed, when the target cannot be replaced: its directory is
    // missing or not writable, it exists but is not a regular file or cannot be
    // opened for writing, its lock is held (Held() then tells), or the temporary
    // file cannot be created.
    bool Open();

    // Whether the last Open failed because another guard holds the lock.
    bool Held() const { return held_; }

    // The temporary file, to write the new content to. Valid after Open.
    File& Output() { return file_; }

    // With `sync`, flushes the temporary file's data to the disk. False on failure.
    // Commit does it too; calling it first lets a caller flush several files
    // before it renames any of them.
    bool Sync();

    // Closes the temporary file and renames it over the target. False when that
    // fails; the temporary file is then removed.
    bool Commit();

    // Removes the temporary file, if any, and gives up the lock.
    void Discard();

    // The steps of Commit. Prepare flushes (with `sync`) and closes the
    // temporary file, which is then complete (once: a second call changes
    // nothing); false on failure, with the file still there to Discard. Uncover stops a signal from removing the prepared
    // file, for a caller that covers it with a SignalCleanup::Completion. Place
    // renames it;
    // false when that fails, with the file left as it was. SyncDirectory
    // flushes the target's directory (with `sync`), Finish gives up the lock.
    // Keep forgets the prepared file without removing it, for a commit that is
    // to be completed later.
    bool Prepare();
    // After a successful Prepare: the complete temporary file's status, as its
    // identity for a record of the commit.
    const std::optional<FileStatus>& Prepared() const { return preparedStatus_; }
    void Uncover();
    bool Place();
    void SyncDirectory() const;
    void Finish();
    void Keep();

    const std::string& Target() const { return target_; }

    // After a successful Open: the file that a Commit replaces, when one exists,
    // and the temporary file being written.
    const std::optional<FileStatus>& Replaced() const { return replaced_; }
    std::optional<FileStatus> Status() const { return file_.IsOpen() ? file_.Status() : std::nullopt; }

    // ".NAME.zelkor-SUFFIX", with NAME cut short (and a hash of the whole name
    // added) where the result would not fit in a directory entry.
    static std::string HiddenName(std::string_view name, std::string_view suffix);

    // Six random letters and digits, the suffix of a temporary file's name;
    // never "commit", which names a commit record (see JointCommit).
    static std::string RandomSuffix();

    // Whether `name` is a name HiddenName gives a temporary file of `target`
    // (a bare name): a six-letter suffix of letters and digits other than
    // "commit".
    static bool IsTemporaryName(std::string_view name, std::string_view target);

    // The file that writing to `target` reaches, links followed (as Open
    // follows them, the rule for shared directories included), even to a file
    // that does not exist yet. Nothing when a link may not be followed (EACCES)
    // or the path holds a NUL (EINVAL).
    static std::optional<std::string> Resolve(const std::string& target);

    // After Open: the file that is replaced, and the temporary file.
    const std::string& Resolved() const { return resolved_; }
    const std::string& Temporary() const { return temporary_; }

private:
    std::string target_;
    Options options_;
    std::string resolved_;  // the file that is replaced, links followed
    std::string temporary_;
    File file_;
    SignalCleanup::Registration temporaryCleanup_;
    OutputLock lock_;
    std::optional<FileStatus> replaced_;
    bool held_ = false;
    bool synced_ = false;
    bool prepared_ = false;
    std::optional<FileStatus> preparedStatus_;
};

}  // namespace zelkor
