#include "platform/stop_requests.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace zelkor {

namespace {

std::atomic<StopRequests::Handler> installed{nullptr};

// Flushes the directory that holds `path` to the disk; only calls that are safe
// in a signal handler.
void SyncDirectoryOf(const char* path)
{
    char directory[PATH_MAX];
    const char* slash = std::strrchr(path, '/');
    if (!slash) {
        directory[0] = '.';
        directory[1] = '\0';
    } else {
        const auto length = static_cast<std::size_t>(slash == path ? 1 : slash - path);
        if (length >= sizeof directory)
            return;
        std::memcpy(directory, path, length);
        directory[length] = '\0';
    }
    const int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void HandleAndEnd(int signal)
{
    // The other requests are held back on this thread while this one is
    // handled (Install).
    if (const StopRequests::Handler handler = installed.load())
        handler();
    // End by the same signal, with its default action, once this handler
    // returns (the signal is blocked until then).
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

}  // namespace

void StopRequests::Install(Handler handler)
{
    installed.store(handler);
    struct sigaction action {};
    action.sa_handler = HandleAndEnd;
    ::sigemptyset(&action.sa_mask);
    // While one of them is handled, the others wait: the handler runs once.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGXFSZ, SIG_IGN);
}

void StopRequests::Place(const char* temporary, const char* target)
{
    if (::rename(temporary, target) == 0)
        SyncDirectoryOf(target);
}

void StopRequests::Remove(const char* path)
{
    ::unlink(path);
}

}  // namespace zelkor
