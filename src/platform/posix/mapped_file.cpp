#include "platform/mapped_file.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>

#include "platform/memory_pages.h"
#include "platform/system.h"

namespace zelkor {

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

namespace system {

void Unmap(void* data, std::size_t size)
{
    ::munmap(data, size);
}

bool ReplaceWithZeros(void* page, std::size_t size)
{
    return ::mmap(page, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED;
}

}  // namespace system

}  // namespace zelkor
