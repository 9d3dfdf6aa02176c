#include "runtime/warning_log.h"

#include <iostream>

#include "platform/utf8.h"
#include "runtime/progress_line.h"

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
    // Paths in a line may hold anything; control characters are shown, not
    // obeyed, so that the line stays one line of text.
    std::string whole = ShowControls(line, true);
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

void WarningLog::NotWritten(const std::string& line)
{
    ++notWritten_;
    Warn(line);
}

}  // namespace zelkor
