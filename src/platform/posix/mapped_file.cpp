#include "platform/mapped_file.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <utility>

#include "platform/memory_pages.h"

namespace zelkor {

namespace {

// The mapping the current thread reads under a guard, if any.
thread_local MappedFile* reading = nullptr;

void OnBusError(int signal, siginfo_t* info, void* context);

}  // namespace

std::optional<MappedFile> MappedFile::Map(const File& file, std::size_t size)
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        (void)PageSize();  // known before a fault handler needs it
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
    });
    // Populated at once: one system call instead of a fault for every page.
    const int fd = static_cast<int>(file.NativeHandle());
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (data == MAP_FAILED)
        return std::nullopt;
    return MappedFile(static_cast<std::uint8_t*>(data), size);
}

bool MappedFile::ReplaceLostPage(const void* faulted)
{
    const auto address = reinterpret_cast<std::uintptr_t>(faulted);
    MappedFile* mapped = reading;
    const auto begin = reinterpret_cast<std::uintptr_t>(mapped ? mapped->data_ : nullptr);
    if (!mapped || address < begin || address >= begin + mapped->size_)
        return false;
    // The page is gone from the file: zeros take its place, and the read goes on.
    const std::uintptr_t page = address & ~(static_cast<std::uintptr_t>(PageSize()) - 1);
    if (::mmap(reinterpret_cast<void*>(page), PageSize(), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
               0) == MAP_FAILED)
        return false;
    mapped->damaged_ = true;
    return true;
}

namespace {

void OnBusError(int signal, siginfo_t* info, void*)
{
    if (MappedFile::ReplaceLostPage(info->si_addr))
        return;
    // Not ours: the usual end.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)), damaged_(other.damaged_)
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        if (data_)
            ::munmap(data_, size_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        damaged_ = other.damaged_;
    }
    return *this;
}

MappedFile::~MappedFile()
{
    if (data_)
        ::munmap(data_, size_);
}

MappedFile::Reading::Reading(MappedFile& mapped) : previous_(std::exchange(reading, &mapped))
{
}

MappedFile::Reading::~Reading()
{
    reading = previous_;
}

}  // namespace zelkor
