#include "platform/win32/console_stream_buffer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/utf8.h"
#include "platform/win32/wide_path.h"

namespace zelkor::win32 {

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

bool WriteConsoleText(HANDLE console, std::string_view text)
{
    const std::wstring wide = Wide(ReplaceInvalidUtf8(text));
    std::wstring_view rest = wide;
    while (!rest.empty()) {
        std::size_t count = std::min<std::size_t>(rest.size(), 1u << 15);
        // Both halves of a surrogate pair go in one call.
        if (count < rest.size() && count > 1 && rest[count - 1] >= 0xD800 && rest[count - 1] <= 0xDBFF)
            --count;
        DWORD written = 0;
        if (!::WriteConsoleW(console, rest.data(), static_cast<DWORD>(count), &written, nullptr) || written == 0)
            return false;
        rest.remove_prefix(written);
    }
    return true;
}

ConsoleStreamBuffer::ConsoleStreamBuffer(HANDLE console, std::ostream& stream)
    : console_(console), stream_(stream), original_(stream.rdbuf())
{
    setp(buffer_, buffer_ + sizeof buffer_);
    stream_.flush();
    stream_.rdbuf(this);
}

ConsoleStreamBuffer::~ConsoleStreamBuffer()
{
    Flush();
    stream_.rdbuf(original_);
}

bool ConsoleStreamBuffer::Flush()
{
    const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    const std::size_t finished = Utf8FinishedLength(pending);
    const bool written = finished == 0 || WriteConsoleText(console_, pending.substr(0, finished));
    const std::size_t waiting = pending.size() - finished;
    std::memmove(buffer_, pending.data() + finished, waiting);
    setp(buffer_, buffer_ + sizeof buffer_);
    pbump(static_cast<int>(waiting));
    return written;
}

ConsoleStreamBuffer::int_type ConsoleStreamBuffer::overflow(int_type c)
{
    if (!Flush())
        return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int ConsoleStreamBuffer::sync()
{
    return Flush() ? 0 : -1;
}

}  // namespace zelkor::win32
