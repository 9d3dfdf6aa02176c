#include "script/warning_log.h"

#include <iostream>

namespace zelkor {

WarningLog::WarningLog() : out_(std::cerr) {}

WarningLog::WarningLog(std::ostream& out) : out_(out) {}

void WarningLog::Warn(const std::string& line)
{
    std::string whole = line;
    whole += '\n';
    {
        std::lock_guard<std::mutex> lock(mutex_);
        out_.write(whole.data(), static_cast<std::streamsize>(whole.size()));
        out_.flush();
    }
    ++count_;
}

}  // namespace zelkor
