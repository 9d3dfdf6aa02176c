#include "output/signal_cleanup.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

#include "platform/stop_requests.h"

namespace zelkor {

namespace {

// Registered entries, each a malloc'ed copy of its path (for a completion, the
// paths of each temporary file and its target, each ending in a NUL, and a NUL
// after the last). The system's handler of a request to stop may run on any
// thread while others register and release, so the tables are lock-free: a
// slot is taken and cleared with atomic exchanges, and a released entry is
// freed only while no handler is running (once one has started, released
// entries are left to the process's end rather than freed under its feet).
constexpr int SlotCount = 4096;
constexpr int CompletionCount = 256;
std::atomic<char*> slots[SlotCount];
std::atomic<char*> completions[CompletionCount];
std::atomic<bool> dying{false};

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

char* Copy(const std::string& text)
{
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

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
    return Copy(all);
}

// The answer to a request to stop: the decided commits completed, the files
// being written removed, before the process ends by the request.
void CleanUp()
{
    (void)SignalCleanup::MarkEnding();
    SignalCleanup::CompleteAndRemove(StopRequests::Place, StopRequests::Remove);
}

}  // namespace

void SignalCleanup::Install()
{
    StopRequests::Install(CleanUp);
}

bool SignalCleanup::MarkEnding()
{
    return dying.exchange(true);
}

void SignalCleanup::CompleteAndRemove(void (*place)(const char* temporary, const char* target),
                                      void (*remove)(const char* path))
{
    // Decided commits first: their temporary files reach their targets.
    for (std::atomic<char*>& slot : completions) {
        const char* temporary = slot.load();
        while (temporary && *temporary) {
            const char* target = temporary + std::strlen(temporary) + 1;
            place(temporary, target);
            temporary = target + std::strlen(target) + 1;
        }
    }
    for (std::atomic<char*>& slot : slots) {
        if (const char* path = slot.load())
            remove(path);
    }
}

SignalCleanup::Registration::Registration(const std::string& path)
    : slot_(path.empty() ? -1 : Occupy(slots, Copy(path)))
{
}

SignalCleanup::Registration::~Registration()
{
    Release();
}

SignalCleanup::Registration::Registration(Registration&& other) noexcept : slot_(std::exchange(other.slot_, -1))
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
