#pragma once

// Orderings that the threading library guarantees, made visible to
// ThreadSanitizer.
//
// oneTBB starts tasks and waits for them inside its shared library, which is not
// built with the sanitizer, so the sanitizer cannot see that a loop body runs
// after the code that started the loop, or that the code after the loop runs
// after every body. Data handed over at those points (the loaded scripts, for
// one) would then look raced. A hand-off is announced by the thread that is done
// with the data and accepted by the thread that takes it up, on the same address.
// Outside sanitizer builds both compile to nothing.

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZELKOR_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ZELKOR_THREAD_SANITIZER 1
#endif

#ifdef ZELKOR_THREAD_SANITIZER
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace zelkor {

// Everything this thread did so far happens before whatever a thread does after
// AcceptHandOff on the same address.
inline void AnnounceHandOff([[maybe_unused]] const void* address)
{
#ifdef ZELKOR_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(address));
#endif
}

inline void AcceptHandOff([[maybe_unused]] const void* address)
{
#ifdef ZELKOR_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(address));
#endif
}

// For the body of a parallel loop: takes up the hand-off on entry and announces
// its own on exit, also when an exception leaves the body (the exception object
// itself is handed to the thread that started the loop).
class HandOffScope {
public:
    explicit HandOffScope(const void* address) : address_(address) { AcceptHandOff(address_); }
    ~HandOffScope() { AnnounceHandOff(address_); }
    HandOffScope(const HandOffScope&) = delete;
    HandOffScope& operator=(const HandOffScope&) = delete;

private:
    const void* address_;
};

}  // namespace zelkor
