#include "output/output_lock.h"

#include <cerrno>
#include <utility>

#include "output/output_guard.h"
#include "platform/file_system.h"

namespace zelkor {

OutputLock& OutputLock::operator=(OutputLock&& other) noexcept
{
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        file_ = std::move(other.file_);
        cleanup_ = std::move(other.cleanup_);
        held_ = other.held_;
    }
    return *this;
}

bool OutputLock::Take(const std::string& directory, const std::string& name)
{
    Release();
    held_ = false;
    const std::string path = directory + OutputGuard::HiddenName(name, "lock");
    for (int attempt = 0; attempt < 100; ++attempt) {
        File lock = File::Open(path, OpenFlags::ReadWrite | OpenFlags::Create | OpenFlags::NoFollow |
                                         OpenFlags::NonBlocking);
        if (!lock.IsOpen())
            return false;
        if (!lock.Lock(false)) {
            held_ = errno == EWOULDBLOCK;
            return false;
        }
        // The holder before us may have removed the file between our open and our
        // lock; then the lock is on a file nobody else will find, and we go again.
        const std::optional<FileStatus> status = lock.Status();
        const std::optional<FileStatus> named = StatusOf(path);
        if (status && named && status->SameFileAs(*named)) {
            cleanup_ = SignalCleanup::Registration(path);
            file_ = std::move(lock);
            path_ = path;
            return true;
        }
    }
    errno = EAGAIN;
    return false;
}

void OutputLock::Release()
{
    if (!file_.IsOpen())
        return;
    // Removed while still held, so that nobody takes a lock on it meanwhile.
    RemoveFile(path_);
    cleanup_.Release();
    file_.Close();
    path_.clear();
}

}  // namespace zelkor
