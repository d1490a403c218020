#pragma once
// Turns Ctrl-C into a request that the main loop polls. SIGINT is blocked in every thread
// and taken by a watcher thread with sigtimedwait, so no thread is interrupted inside a
// system call; a second Ctrl-C ends the process at once.

#include <atomic>
#include <thread>

namespace kelvaro::cli {

class TInterruptWatch final {
public:
    // Create it before any other thread, which then inherits the blocked signal.
    TInterruptWatch();
    ~TInterruptWatch();
    TInterruptWatch(const TInterruptWatch&) = delete;
    TInterruptWatch& operator=(const TInterruptWatch&) = delete;

    bool Requested() const { return requested_; }

private:
    void Watch();

    std::atomic<bool> requested_{false};
    std::atomic<bool> quit_{false};
    std::thread watcher_;
};

}  // namespace kelvaro::cli
