#pragma once

#include <windows.h>

#include <ostream>
#include <streambuf>
#include <string_view>

namespace zelkor::win32 {

// Whether `handle` is a console's (GetConsoleMode answers), not a file's or a
// pipe's.
bool IsConsole(HANDLE handle);

// Writes UTF-8 `text` to the console `console` as UTF-16 (WriteConsoleW), so
// that every name shows as written whatever the console's code page; bytes
// that are not UTF-8 show as U+FFFD. False when the console takes nothing.
bool WriteConsoleText(HANDLE console, std::string_view text);

// The stream buffer of `stream` (std::cout or std::cerr) while its handle is a
// console: text goes out through WriteConsoleText at each flush, but for a
// UTF-8 sequence cut short at the end, which waits for its rest. The stream
// gets its own buffer back, flushed, when this one goes, so that a static one
// outlives every write of the program and none of the stream's last flush.
class ConsoleStreamBuffer : public std::streambuf {
public:
    ConsoleStreamBuffer(HANDLE console, std::ostream& stream);
    ~ConsoleStreamBuffer() override;
    ConsoleStreamBuffer(const ConsoleStreamBuffer&) = delete;
    ConsoleStreamBuffer& operator=(const ConsoleStreamBuffer&) = delete;

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    // Writes what is finished; false when the console took it not.
    bool Flush();

    HANDLE console_;
    std::ostream& stream_;
    std::streambuf* original_;
    char buffer_[4096];
};

}  // namespace zelkor::win32
