#pragma once

#include <span>
#include <string>

#include "output/output_guard.h"

namespace zelkor {

// Puts the files of several OutputGuards in place as one, so that after a crash
// at any moment either every target still holds its old file, or a record of
// the commit (CommitRecord) is left beside the primary target from which
// Complete puts every new file in place.
//
// Commit, in order: every guard's file flushed to the disk and closed; the
// record (created exclusively under a name nobody can guess, 0600, and renamed
// to its name, which must be free: RecordNameFree) written and flushed with its
// directory; from then on a request to stop
// (SignalCleanup) completes the renames instead of removing the files; the
// renames back to back, the primary's last; the targets' directories flushed;
// the files the commit retires removed; the record removed; the locks released. Complete is for whoever works on the
// primary target next (a writer before it opens its guards, a reader before it
// opens the files). Both are safe on any thread; they share no state but the
// test hook.
class JointCommit {
public:
    // `guards` are open, with `lock` and `sync`, the primary last. Null when
    // every file is in place. Otherwise the guard whose file could not be
    // flushed, recorded or renamed: when that happened before the first rename,
    // every guard is discarded and no target has changed; after it, the record
    // and the temporary files not yet renamed are kept for Complete.
    //
    // `removals` are files that the new ones make obsolete (volumes that a
    // smaller set no longer has). They go only once the commit is decided:
    // after the renames, or at a request to stop after the renames have been
    // completed. The record does not name them, so a crash after the renames
    // can leave them; the caller records them where its next run finds them.
    static OutputGuard* Commit(std::span<OutputGuard* const> guards, std::span<const std::string> removals = {});

    // When a record is left beside `primary` (a path as given to an
    // OutputGuard, links followed the same way) and every target it names can
    // be locked: renames the temporary files still there over their targets,
    // flushes their directories, and removes the record. Files are known by
    // the identity the record gives them (device, inode, size, modification
    // time), not by their names: a file found at a temporary name or a target
    // that is not the one written is someone else's and is left alone. A
    // record that is not the process user's own, may be written by others, or
    // is of another version is left alone; one that does not decode (a write
    // cut short, before any rename) is removed, and so is one whose files are
    // all in place. A record one of whose files is at neither its temporary
    // name nor its target cannot be completed whole: it and its remaining files
    // are removed, and the targets keep what they hold.
    static void Complete(const std::string& primary);

    // Whether a record is left beside `primary` (links followed as Complete
    // follows them): a commit is pending that Complete would finish. Writes
    // nothing.
    static bool Pending(const std::string& primary);

    // Whether the name of the record beside `primary` is free for a commit:
    // nothing there, or a regular file of the process's user. Otherwise (a
    // FIFO, a directory, a link, another user's file put there) Commit would
    // fail; errno is EEXIST then.
    static bool RecordNameFree(const std::string& primary);

    // For tests: called by Commit between the first rename and the next, so that
    // a signal or a kill can be delivered exactly there. Null for none.
    static void SetHookBetweenRenames(void (*hook)());
    // For tests: called by Commit once every file is flushed and closed, before
    // the record is written: the last moment at which stopping keeps the old
    // files. Null for none.
    static void SetHookBeforeRecord(void (*hook)());
};

}  // namespace zelkor
