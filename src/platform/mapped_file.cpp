#include "platform/mapped_file.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <utility>

namespace zelkor {

namespace {

// The mapping the current thread reads under a guard, if any.
thread_local MappedFile* reading = nullptr;

std::uintptr_t PageSize()
{
    static const auto size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

std::optional<MappedFile> MappedFile::Map(const File& file, std::size_t size)
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = [](int signal, siginfo_t* info, void* context) { OnBusError(signal, info, context); };
        action.sa_flags = SA_SIGINFO;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
    });
    // Populated at once: one system call instead of a fault for every page.
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.Descriptor(), 0);
    if (data == MAP_FAILED)
        return std::nullopt;
    return MappedFile(static_cast<std::uint8_t*>(data), size);
}

void MappedFile::OnBusError(int signal, void* info, void*)
{
    const auto address = reinterpret_cast<std::uintptr_t>(static_cast<siginfo_t*>(info)->si_addr);
    MappedFile* mapped = reading;
    const auto begin = reinterpret_cast<std::uintptr_t>(mapped ? mapped->data_ : nullptr);
    if (mapped && address >= begin && address < begin + mapped->size_) {
        // The page is gone from the file: zeros take its place, and the read goes on.
        const std::uintptr_t page = address & ~(PageSize() - 1);
        if (::mmap(reinterpret_cast<void*>(page), PageSize(), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                   -1, 0) != MAP_FAILED) {
            mapped->damaged_ = true;
            return;
        }
    }
    // Not ours: the usual end.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

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
