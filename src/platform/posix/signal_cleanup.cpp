#include "platform/signal_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace zelkor {

namespace {

// Registered paths, each a malloc'ed copy. The handler may run on any thread
// while others register and release, so the table is lock-free: a slot is taken
// and cleared with atomic exchanges, and a released path is freed only while no
// handler is running (once one has started, released paths are left to the
// process's end rather than freed under its feet).
constexpr int SlotCount = 4096;
std::atomic<char*> slots[SlotCount];
std::atomic<bool> dying{false};

void RemoveRegisteredFiles(int signal)
{
    dying.store(true);
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

}  // namespace

void SignalCleanup::Install()
{
    struct sigaction action {};
    action.sa_handler = RemoveRegisteredFiles;
    ::sigemptyset(&action.sa_mask);
    // While one of them is handled, the others wait: the files are removed once.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGXFSZ, SIG_IGN);
}

SignalCleanup::Registration::Registration(const std::string& path)
{
    char* copy = ::strdup(path.c_str());
    if (!copy)
        return;  // without memory the file is left uncovered, but still written
    for (int i = 0; i < SlotCount; ++i) {
        char* expected = nullptr;
        if (slots[i].compare_exchange_strong(expected, copy)) {
            slot_ = i;
            return;
        }
    }
    std::free(copy);
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
    if (slot_ < 0)
        return;
    char* path = slots[std::exchange(slot_, -1)].exchange(nullptr);
    // A handler that saw the path set `dying` before it looked.
    if (!dying.load())
        std::free(path);
}

}  // namespace zelkor
