#include "platform/terminal.h"

#include <windows.h>

#include "platform/win32/console_stream_buffer.h"

namespace zelkor {

namespace {

HANDLE StandardError()
{
    return ::GetStdHandle(STD_ERROR_HANDLE);
}

}  // namespace

bool StandardErrorIsTerminal()
{
    // A console, and one that takes the escape sequence that clears a line
    // (Windows 10 on); a file, a pipe or an older console gets no status line.
    DWORD mode = 0;
    const HANDLE handle = StandardError();
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::optional<unsigned> StandardErrorWidth()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(StandardError(), &info))
        return std::nullopt;
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width <= 0)
        return std::nullopt;
    return static_cast<unsigned>(width);
}

bool WriteStandardError(std::string_view text)
{
    const HANDLE handle = StandardError();
    if (win32::IsConsole(handle))
        return win32::WriteConsoleText(handle, text);
    while (!text.empty()) {
        DWORD written = 0;
        const auto count = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
        if (!::WriteFile(handle, text.data(), count, &written, nullptr) || written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

}  // namespace zelkor
