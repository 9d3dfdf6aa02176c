#include "platform/stop_requests.h"

#include <windows.h>

#include <atomic>

#include "platform/win32/wide_path.h"

namespace zelkor {

namespace {

std::atomic<StopRequests::Handler> installed{nullptr};
std::atomic<bool> stopping{false};

// Ctrl-C, Ctrl-Break, the console closed, the user logging off, the system
// shutting down: the requests that end a console program. Windows calls this
// on a thread of its own while the others go on.
BOOL WINAPI OnConsoleControl(DWORD event)
{
    (void)event;
    if (stopping.exchange(true)) {
        // Another request is being handled; that one ends the process.
        ::Sleep(INFINITE);
    }
    if (const StopRequests::Handler handler = installed.load())
        handler();
    // Ended as an interrupted console program ends, with the status Windows
    // gives it; the console's own handling would do the same for Ctrl-C.
    ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return TRUE;
}

}  // namespace

void StopRequests::Install(Handler handler)
{
    installed.store(handler);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void StopRequests::Place(const char* temporary, const char* target)
{
    (void)::MoveFileExW(win32::WidePath(temporary).c_str(), win32::WidePath(target).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// The files being written are open with deletion shared, so removing them
// works while their handles are open; they go when the process ends.
void StopRequests::Remove(const char* path)
{
    (void)::DeleteFileW(win32::WidePath(path).c_str());
}

}  // namespace zelkor
