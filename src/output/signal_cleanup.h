#pragma once

#include <string>
#include <vector>

namespace zelkor {

// Files that the process is in the middle of writing, which must not survive it.
//
// Install sets the process up once, at the start of main, through the
// platform's StopRequests: a request to stop (an interrupt from the terminal,
// a termination, a hang-up) removes every registered file and then ends the
// process by the same request, so that its parent sees the usual status (128 +
// the signal's number in a shell); a file-size limit does not end the process,
// it makes the write fail (EFBIG), which is reported like any failed write.
//
// A file is registered by holding a Registration for its path from before it is
// created until after it has been renamed into place or removed. Temporary
// files that are complete and must reach their targets whatever happens (a
// pair committed together) are covered by one Completion instead: at a request
// to stop, they are renamed over their targets in order, each target's
// directory flushed to the disk, before any registered file is removed. One
// Completion covers all its files from the moment it exists, never some of
// them. Relative paths resolve against
// the working directory, which the tools never change. Registering and
// releasing are safe on any thread at any time.
class SignalCleanup {
public:
    static void Install();

    class Registration {
    public:
        Registration() = default;
        // An empty path covers nothing.
        explicit Registration(const std::string& path);
        ~Registration();
        Registration(Registration&& other) noexcept;
        Registration& operator=(Registration&& other) noexcept;
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;

        // Stops covering the path; the file itself is left as it is.
        void Release();

    private:
        int slot_ = -1;
    };

    // Renames each temporary file to its target at a request to stop, in
    // order, until released; a file renamed already is passed over. The table
    // of completions is small (one per command being committed); when it is
    // full, the completion covers nothing, and a commit left unfinished is
    // completed later from its record instead.
    class Completion {
    public:
        struct Rename {
            std::string temporary;
            std::string target;
        };

        Completion() = default;
        explicit Completion(const std::vector<Rename>& renames);
        ~Completion();
        Completion(Completion&& other) noexcept;
        Completion& operator=(Completion&& other) noexcept;
        Completion(const Completion&) = delete;
        Completion& operator=(const Completion&) = delete;

        void Release();

    private:
        int slot_ = -1;
    };

    // For the handler of a request to stop (and tests), nothing else. Marks
    // the process as ending, after which released entries are no longer freed
    // (the handler may be reading them); true when a request marked it before.
    static bool MarkEnding();
    // Then calls `place` for each covered temporary file and its target, in
    // order, and `remove` for each registered file. Allocates nothing and
    // takes no lock, so that it is safe in a signal handler.
    static void CompleteAndRemove(void (*place)(const char* temporary, const char* target),
                                  void (*remove)(const char* path));
};

}  // namespace zelkor
