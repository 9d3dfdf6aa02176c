#include "platform/signal_cleanup.h"

#include <windows.h>

#include "platform/win32/wide_path.h"

namespace zelkor {

namespace {

// Ctrl-C, Ctrl-Break, the console closed, the user logging off, the system
// shutting down: the requests that end a console program. Windows calls this
// handler on a thread of its own while the others go on registering and
// releasing.
BOOL WINAPI OnConsoleControl(DWORD event)
{
    (void)event;
    if (SignalCleanup::MarkEnding()) {
        // Another request is being handled; that one ends the process.
        ::Sleep(INFINITE);
    }
    // The files being written are open with deletion shared, so removing them
    // works while their handles are open; they go when the process ends.
    SignalCleanup::CompleteAndRemove(
        [](const char* temporary, const char* target) {
            (void)::MoveFileExW(win32::WidePath(temporary).c_str(), win32::WidePath(target).c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        },
        [](const char* path) { (void)::DeleteFileW(win32::WidePath(path).c_str()); });
    // Ended as an interrupted console program ends, with the status Windows
    // gives it; the console's own handling would do the same for Ctrl-C.
    ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return TRUE;
}

}  // namespace

void SignalCleanup::Install()
{
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace zelkor
