#include "platform/environment.h"

#include <windows.h>

#include "platform/win32/wide_path.h"

namespace zelkor {

std::optional<std::string> EnvironmentVariable(const char* name)
{
    const std::wstring wideName = win32::Wide(name);
    std::wstring value(128, L'\0');
    // The value may grow between the call that measures it and the one that
    // reads it: then measured again.
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0)
            return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::string>(std::string());
        if (length < value.size()) {
            value.resize(length);
            return win32::Narrow(value);
        }
        value.assign(length, L'\0');  // too small: the length asked for counts the terminating NUL
    }
}

}  // namespace zelkor
