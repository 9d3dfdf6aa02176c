#include "platform/warning_log.h"

#include <iostream>

#include "platform/progress_line.h"

namespace zelkor {

WarningLog::WarningLog() : out_(std::cerr) {}

WarningLog::WarningLog(std::ostream& out) : out_(out) {}

void WarningLog::SetProgress(ProgressLine* progress)
{
    std::lock_guard<std::mutex> lock(mutex_);
    progress_ = progress;
}

void WarningLog::Warn(const std::string& line)
{
    // A path that holds a NUL byte is shown with it written as \0, so that the
    // line stays one line of text.
    std::string whole;
    whole.reserve(line.size() + 1);
    for (const char c : line) {
        if (c == '\0')
            whole += "\\0";
        else
            whole += c;
    }
    whole += '\n';
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (progress_) {
            progress_->WriteAbove(whole);
        } else {
            out_.write(whole.data(), static_cast<std::streamsize>(whole.size()));
            out_.flush();
        }
    }
    ++count_;
}

}  // namespace zelkor
