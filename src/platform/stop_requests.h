#pragma once

namespace zelkor {

// The system's requests to stop the process (an interrupt from the terminal, a
// termination, a hang-up; on Windows the console's control events), and the
// few calls that are safe to make while one is handled.
class StopRequests {
public:
    // Called on a request to stop, on whichever thread the system picks, while
    // other threads go on running: it may call only what is safe in a signal
    // handler (no allocation, no lock). A second request made while one is
    // handled waits for the first to end the process (Windows), or is held
    // back until then (POSIX, on the thread that handles the first).
    using Handler = void (*)();

    // Makes `handler` the process's answer to a request to stop, once, at the
    // start of main. When it returns, the process ends by the same request, so
    // that its parent sees the usual status (128 + the signal's number in a
    // shell, STATUS_CONTROL_C_EXIT on Windows). A file-size limit does not end
    // the process: the write fails (EFBIG) and is reported like any failed one.
    static void Install(Handler handler);

    // Renames `temporary` over `target` and flushes the target's directory to
    // the disk; nothing when the rename fails.
    static void Place(const char* temporary, const char* target);
    // Removes the file at `path`, if it can.
    static void Remove(const char* path);
};

}  // namespace zelkor
