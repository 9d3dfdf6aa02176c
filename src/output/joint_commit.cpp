#include "output/joint_commit.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "output/commit_record.h"
#include "output/output_lock.h"
#include "output/signal_cleanup.h"
#include "platform/file_system.h"

namespace zelkor {

namespace {

std::atomic<void (*)()> hookBetweenRenames{nullptr};
std::atomic<void (*)()> hookBeforeRecord{nullptr};

void SyncDirectory(const std::string& directory)
{
    const File parent = File::Open(directory.empty() ? "." : directory, OpenFlags::Read | OpenFlags::Directory);
    if (parent.IsOpen())
        parent.Sync();
}

void DiscardAll(std::span<OutputGuard* const> guards)
{
    for (OutputGuard* guard : guards)
        guard->Discard();
}

// Whether the record's name at `path` is free for a record of this process's
// user: nothing there, or a regular file of the user's own (a record Complete
// could not finish, which a new one replaces). Anything else was put there by
// someone: a FIFO that an open would wait on, a link or a hard link that a
// write would go through, another user's file.
bool RecordNameFree(const std::string& path)
{
    const std::optional<FileStatus> status = StatusOf(path, FollowLinks::No);
    if (!status)
        return errno == ENOENT;
    if (status->IsRegular() && status->owner == EffectiveUser())
        return true;
    errno = EEXIST;
    return false;
}

// Writes `record` as the file `name` of `directory`: created under a name
// nobody can guess, exclusively and without waiting on anything found there,
// readable and writable by the user alone, flushed, and renamed over the name,
// which replaces whatever stands there instead of writing through it; then the
// directory is flushed too.
bool WriteRecord(const std::string& directory, const std::string& name, const CommitRecord& record)
{
    if (!RecordNameFree(directory + name))
        return false;
    const std::vector<std::uint8_t> bytes = record.Encode();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = directory + OutputGuard::HiddenName(name, OutputGuard::RandomSuffix());
        SignalCleanup::Registration cleanup(temporary);
        File file = File::Open(temporary, OpenFlags::Write | OpenFlags::Create | OpenFlags::Exclusive |
                                              OpenFlags::NoFollow | OpenFlags::NonBlocking,
                               0600);
        if (!file.IsOpen()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (!file.WriteAll(bytes.data(), bytes.size()) || !file.Sync() || !file.Close() ||
            !RenameFile(temporary, directory + name)) {
            const int error = errno;
            RemoveFile(temporary);
            errno = error;
            return false;
        }
        SyncDirectory(directory);
        return true;
    }
    return false;
}

}  // namespace

bool JointCommit::RecordNameFree(const std::string& primary)
{
    const std::optional<std::string> resolved = OutputGuard::Resolve(primary);
    if (!resolved)
        return false;
    return zelkor::RecordNameFree(DirectoryPart(*resolved) + CommitRecord::NameFor(NamePart(*resolved)));
}

void JointCommit::SetHookBetweenRenames(void (*hook)())
{
    hookBetweenRenames.store(hook);
}

void JointCommit::SetHookBeforeRecord(void (*hook)())
{
    hookBeforeRecord.store(hook);
}

namespace {

// Prepares every guard; the first that cannot be, with every guard discarded
// and its errno kept.
OutputGuard* PrepareAll(std::span<OutputGuard* const> guards)
{
    for (OutputGuard* guard : guards) {
        if (!guard->Prepare()) {
            const int error = errno;
            DiscardAll(guards);
            errno = error;
            return guard;
        }
    }
    return nullptr;
}

// The pairs of the commit's record into `record`. Targets beside the primary
// (in `directory`) are named by their names, so that the record holds wherever
// the directory is reached from; others by absolute paths. The guard whose
// target cannot be named, with every guard discarded.
OutputGuard* Describe(std::span<OutputGuard* const> guards, const std::string& directory, CommitRecord& record)
{
    for (OutputGuard* guard : guards) {
        std::optional<std::string> target = NamePart(guard->Resolved());
        if (DirectoryPart(guard->Resolved()) != directory)
            target = AbsolutePath(guard->Resolved());
        if (!target || !guard->Prepared()) {
            const int error = errno;
            DiscardAll(guards);
            errno = error;
            return guard;
        }
        record.pairs.push_back(
            {*target, NamePart(guard->Temporary()), CommitRecord::Identity::Of(*guard->Prepared())});
    }
    return nullptr;
}

// Renames every temporary file over its target, in order. The guard that
// failed: the first, with every file discarded and the record removed; a later
// one, with the rest kept for Complete.
OutputGuard* PlaceAll(std::span<OutputGuard* const> guards, const std::string& recordPath,
                      SignalCleanup::Registration& recordCleanup, SignalCleanup::Completion& completion)
{
    for (std::size_t i = 0; i < guards.size(); ++i) {
        if (!guards[i]->Place()) {
            const int error = errno;
            if (i == 0) {
                RemoveFile(recordPath);
                DiscardAll(guards);
            } else {
                // Half in place: the rest stays for Complete.
                for (std::size_t rest = i; rest < guards.size(); ++rest)
                    guards[rest]->Keep();
                recordCleanup.Release();
                completion.Release();
            }
            errno = error;
            return guards[i];
        }
        if (i == 0) {
            if (void (*hook)() = hookBetweenRenames.load())
                hook();
        }
    }
    return nullptr;
}

// Removes the files the commit retires, then flushes their directories.
void Retire(std::span<const std::string> removals, std::vector<SignalCleanup::Registration>& retired)
{
    std::vector<std::string> emptied;
    for (std::size_t i = 0; i < removals.size(); ++i) {
        RemoveFile(removals[i]);
        retired[i].Release();
        const std::string parent = DirectoryPart(removals[i]);
        if (std::find(emptied.begin(), emptied.end(), parent) == emptied.end())
            emptied.push_back(parent);
    }
    for (const std::string& parent : emptied)
        SyncDirectory(parent);
}

}  // namespace

OutputGuard* JointCommit::Commit(std::span<OutputGuard* const> guards, std::span<const std::string> removals)
{
    if (guards.empty())
        return nullptr;
    if (OutputGuard* failed = PrepareAll(guards))
        return failed;

    OutputGuard* primary = guards.back();
    const std::string directory = DirectoryPart(primary->Resolved());
    CommitRecord record;
    if (OutputGuard* failed = Describe(guards, directory, record))
        return failed;
    const std::string recordName = CommitRecord::NameFor(NamePart(primary->Resolved()));
    const std::string recordPath = directory + recordName;
    if (void (*hook)() = hookBeforeRecord.load())
        hook();
    SignalCleanup::Registration recordCleanup(recordPath);
    if (!WriteRecord(directory, recordName, record)) {
        const int error = errno;
        // Only a record of this commit's own is removed: nothing was renamed
        // over the name when the name was not free.
        if (error != EEXIST)
            RemoveFile(recordPath);
        DiscardAll(guards);
        errno = error;
        return primary;
    }

    // Decided: from here on every file goes to its target, whatever happens. One
    // completion covers them all at once before any stops being removed, so
    // that no signal can put some in place and remove the others.
    std::vector<SignalCleanup::Completion::Rename> renames;
    for (OutputGuard* guard : guards)
        renames.push_back({guard->Temporary(), guard->Resolved()});
    SignalCleanup::Completion completion(renames);
    // A request to stop removes what is registered after it completed the
    // renames, so the retired files go then too, and never before.
    std::vector<SignalCleanup::Registration> retired;
    for (const std::string& path : removals)
        retired.emplace_back(path);
    for (OutputGuard* guard : guards)
        guard->Uncover();
    if (OutputGuard* failed = PlaceAll(guards, recordPath, recordCleanup, completion))
        return failed;
    for (OutputGuard* guard : guards)
        guard->SyncDirectory();
    Retire(removals, retired);
    RemoveFile(recordPath);
    recordCleanup.Release();
    for (OutputGuard* guard : guards)
        guard->Finish();
    return nullptr;
}

namespace {

// Reads and checks the record at `path`. Nothing when it is not the process
// user's own and writable by nobody else, or is of another version (left
// alone: `remove` false), or does not decode (`remove` true).
std::optional<CommitRecord> ReadRecord(const std::string& path, bool& remove)
{
    remove = false;
    FileStatus status;
    File file = File::OpenRegular(path, OpenFlags::Read | OpenFlags::NoFollow, &status);
    if (!file.IsOpen() || status.owner != EffectiveUser() || (status.permissions & 022) != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(CommitRecord::MaxSize + 1);
    const std::optional<std::size_t> got = file.ReadAt(0, bytes.data(), bytes.size());
    if (!got)
        return std::nullopt;
    bytes.resize(*got);
    std::optional<CommitRecord> record = CommitRecord::Decode(bytes, NamePart(path));
    remove = !record && !CommitRecord::OfAnotherVersion(bytes);
    return record;
}

// Completes the commit that `record` describes, its files at `targets` and
// `temporaries`, and removes the record.
void Finish(const CommitRecord& record, const std::vector<std::string>& targets,
            const std::vector<std::string>& temporaries, const std::string& recordPath)
{
    // Each file is found by what was written, never by its name alone: still
    // at its temporary name, or at its target already. Anything else at those
    // names was put there by someone and is neither renamed nor removed. When
    // one of the files is at neither place, it was removed by someone: the
    // commit cannot be completed whole and is given up, the targets keeping
    // what they hold.
    std::vector<bool> pending(targets.size());
    bool whole = true;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const CommitRecord::Identity& written = record.pairs[i].written;
        pending[i] = written.Is(StatusOf(temporaries[i], FollowLinks::No));
        whole = whole && (pending[i] || written.Is(StatusOf(targets[i], FollowLinks::No)));
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!pending[i])
            continue;
        if (whole) {
            if (!RenameFile(temporaries[i], targets[i]))
                return;  // the record stays for a later try
        } else {
            RemoveFile(temporaries[i]);
        }
    }
    for (const std::string& target : targets)
        SyncDirectory(DirectoryPart(target));
    RemoveFile(recordPath);
}

}  // namespace

bool JointCommit::Pending(const std::string& primary)
{
    const std::optional<std::string> resolved = OutputGuard::Resolve(primary);
    if (!resolved)
        return false;
    const std::string recordPath = DirectoryPart(*resolved) + CommitRecord::NameFor(NamePart(*resolved));
    return StatusOf(recordPath, FollowLinks::No).has_value();
}

void JointCommit::Complete(const std::string& primary)
{
    const std::optional<std::string> resolved = OutputGuard::Resolve(primary);
    if (!resolved)
        return;
    const std::string directory = DirectoryPart(*resolved);
    const std::string recordPath = directory + CommitRecord::NameFor(NamePart(*resolved));
    if (!StatusOf(recordPath, FollowLinks::No))
        return;  // the usual case: nothing was left

    // A writer that holds the lock is still at work, and finishes the commit itself.
    std::vector<OutputLock> locks(1);
    if (!locks[0].Take(directory, NamePart(*resolved)))
        return;
    bool remove = false;
    const std::optional<CommitRecord> record = ReadRecord(recordPath, remove);
    if (!record) {
        if (remove)
            RemoveFile(recordPath);
        return;
    }
    std::vector<std::string> targets;
    std::vector<std::string> temporaries;
    for (const CommitRecord::Pair& pair : record->pairs) {
        const std::string target = IsAbsolutePath(pair.target) ? pair.target : directory + pair.target;
        targets.push_back(target);
        temporaries.push_back(DirectoryPart(target) + pair.temporary);
        if (targets.size() < record->pairs.size()) {
            locks.emplace_back();
            if (!locks.back().Take(DirectoryPart(target), NamePart(target)))
                return;
        }
    }

    Finish(*record, targets, temporaries, recordPath);
}

}  // namespace zelkor
