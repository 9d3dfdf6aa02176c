#include "runtime/progress_line.h"

#include <cstdio>

#include "platform/terminal.h"

namespace zelkor {

namespace {

// Back to the start of the line, and everything on it erased.
constexpr std::string_view ClearLine = "\r\033[K";

constexpr auto Interval = std::chrono::milliseconds(100);

std::string Duration(double seconds)
{
    const auto whole = static_cast<unsigned long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
    return text;
}

}  // namespace

std::unique_ptr<ProgressLine> ProgressLine::ForStandardError(std::string_view items, std::uint64_t totalItems,
                                                             std::uint64_t totalBytes)
{
    if (!StandardErrorIsTerminal())
        return nullptr;
    return std::unique_ptr<ProgressLine>(new ProgressLine(items, totalItems, totalBytes));
}

ProgressLine::ProgressLine(std::string_view items, std::uint64_t totalItems, std::uint64_t totalBytes)
    : items_(items), totalItems_(totalItems), totalBytes_(totalBytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        DrawLocked({});
    }
    ticker_ = std::thread([this] { Tick(); });
}

ProgressLine::~ProgressLine()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    ticker_.join();
    WriteStandardError(ClearLine);
}

void ProgressLine::Advance(std::uint64_t items, std::uint64_t bytes)
{
    done_ += items;
    bytes_ += bytes;
}

void ProgressLine::WriteAbove(std::string_view lines)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::string before(ClearLine);
    before += lines;
    DrawLocked(before);
}

void ProgressLine::Tick()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, Interval, [this] { return stopping_; }))
        DrawLocked({});
}

void ProgressLine::DrawLocked(std::string_view before)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string line = Format(items_, done_.load(), totalItems_, bytes_.load(), totalBytes_, seconds);
    // Never wider than the terminal, or it would wrap and leave a line behind.
    const std::optional<unsigned> width = StandardErrorWidth();
    if (width && *width > 1 && line.size() >= *width)
        line.resize(*width - 1);
    std::string text(before);
    text += ClearLine;
    text += line;
    // A terminal that went away takes no status line.
    (void)WriteStandardError(text);
}

std::string ProgressLine::Format(std::string_view items, std::uint64_t done, std::uint64_t total,
                                 std::uint64_t bytes, std::uint64_t totalBytes, double seconds)
{
    const double megabytes = static_cast<double>(bytes) / 1e6;
    const double rate = seconds > 0 ? megabytes / seconds : 0;
    char text[160];
    std::snprintf(text, sizeof text, "%llu of %llu %.*s, %.1f MB read, %.1f MB/s", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total), static_cast<int>(items.size()), items.data(), megabytes,
                  rate);
    std::string line = text;
    if (totalBytes > 0 && bytes > 0 && rate > 0) {
        const double left = bytes < totalBytes ? static_cast<double>(totalBytes - bytes) / 1e6 / rate : 0;
        line += ", " + Duration(left) + " left";
    }
    return line;
}

}  // namespace zelkor
