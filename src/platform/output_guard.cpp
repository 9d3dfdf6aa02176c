#include "platform/output_guard.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace zelkor {

namespace {

std::atomic<unsigned> temporaryCounter{0};

}  // namespace

OutputGuard::OutputGuard(std::string target) : target_(std::move(target)) {}

OutputGuard::~OutputGuard()
{
    Discard();
}

bool OutputGuard::Open()
{
    Discard();
    // A name no other writer uses: this process's id and a counter. O_EXCL makes
    // sure a leftover of an earlier run is never written into.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = target_ + ".tmp-" + std::to_string(::getpid()) + "-" +
                                std::to_string(temporaryCounter.fetch_add(1));
        File file = File::Open(candidate, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (file.IsOpen()) {
            file_ = std::move(file);
            temporary_ = std::move(candidate);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool OutputGuard::Commit()
{
    if (temporary_.empty())
        return false;
    if (!file_.Close() || std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        Discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputGuard::Discard()
{
    file_.Close();
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

}  // namespace zelkor
