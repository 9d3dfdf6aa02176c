#include "platform/signal_cleanup.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

namespace zelkor {

namespace {

// Registered entries, each a malloc'ed copy of its path (for a completion, the
// paths of each temporary file and its target, each ending in a NUL, and a
// NUL after the last). The handler may run on any thread
// while others register and release, so the tables are lock-free: a slot is
// taken and cleared with atomic exchanges, and a released entry is freed only
// while no handler is running (once one has started, released entries are left
// to the process's end rather than freed under its feet).
constexpr int SlotCount = 4096;
constexpr int CompletionCount = 256;
std::atomic<char*> slots[SlotCount];
std::atomic<char*> completions[CompletionCount];
std::atomic<bool> dying{false};

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

void CleanUpAndEnd(int signal)
{
    dying.store(true);
    // Decided commits first: their temporary files reach their targets.
    for (std::atomic<char*>& slot : completions) {
        const char* temporary = slot.load();
        while (temporary && *temporary) {
            const char* target = temporary + std::strlen(temporary) + 1;
            if (::rename(temporary, target) == 0)
                SyncDirectoryOf(target);
            temporary = target + std::strlen(target) + 1;
        }
    }
    for (std::atomic<char*>& slot : slots) {
        if (const char* path = slot.load())
            ::unlink(path);
    }
    // End by the same signal, with its default action, once this handler
    // returns (the signal is blocked until then).
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

// Puts `copy` into a free slot of `table`; its index, or -1 (and `copy` freed)
// when every slot is taken.
int Occupy(std::span<std::atomic<char*>> table, char* copy)
{
    if (!copy)
        return -1;  // without memory the file is left uncovered, but still written
    for (std::size_t i = 0; i < table.size(); ++i) {
        char* expected = nullptr;
        if (table[i].compare_exchange_strong(expected, copy))
            return static_cast<int>(i);
    }
    std::free(copy);
    return -1;
}

void Vacate(std::span<std::atomic<char*>> table, int& slot)
{
    if (slot < 0)
        return;
    char* entry = table[static_cast<std::size_t>(std::exchange(slot, -1))].exchange(nullptr);
    // A handler that saw the entry set `dying` before it looked.
    if (!dying.load())
        std::free(entry);
}

}  // namespace

void SignalCleanup::Install()
{
    struct sigaction action {};
    action.sa_handler = CleanUpAndEnd;
    ::sigemptyset(&action.sa_mask);
    // While one of them is handled, the others wait: the files are handled once.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGXFSZ, SIG_IGN);
}

SignalCleanup::Registration::Registration(const std::string& path) : slot_(Occupy(slots, ::strdup(path.c_str())))
{
}

SignalCleanup::Registration::~Registration()
{
    Release();
}

SignalCleanup::Registration::Registration(Registration&& other) noexcept
    : slot_(std::exchange(other.slot_, -1))
{
}

SignalCleanup::Registration& SignalCleanup::Registration::operator=(Registration&& other) noexcept
{
    if (this != &other) {
        Release();
        slot_ = std::exchange(other.slot_, -1);
    }
    return *this;
}

void SignalCleanup::Registration::Release()
{
    Vacate(slots, slot_);
}

namespace {

char* CopyRenames(const std::vector<SignalCleanup::Completion::Rename>& renames)
{
    std::string all;
    for (const SignalCleanup::Completion::Rename& rename : renames) {
        if (rename.temporary.empty() || rename.target.empty())
            continue;  // an empty path would end the list early
        all += rename.temporary;
        all += '\0';
        all += rename.target;
        all += '\0';
    }
    auto* copy = static_cast<char*>(std::malloc(all.size() + 1));
    if (copy)
        std::memcpy(copy, all.c_str(), all.size() + 1);
    return copy;
}

}  // namespace

SignalCleanup::Completion::Completion(const std::vector<Rename>& renames)
    : slot_(Occupy(completions, CopyRenames(renames)))
{
}

SignalCleanup::Completion::~Completion()
{
    Release();
}

SignalCleanup::Completion::Completion(Completion&& other) noexcept : slot_(std::exchange(other.slot_, -1))
{
}

SignalCleanup::Completion& SignalCleanup::Completion::operator=(Completion&& other) noexcept
{
    if (this != &other) {
        Release();
        slot_ = std::exchange(other.slot_, -1);
    }
    return *this;
}

void SignalCleanup::Completion::Release()
{
    Vacate(completions, slot_);
}

}  // namespace zelkor
