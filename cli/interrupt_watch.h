#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into a request that the main loop polls. The signals are
// blocked in every thread and read by a watcher thread from a signal descriptor, so no
// thread is interrupted inside a system call; the same signal twice, or a second one, ends
// the process at once (128 + the signal), as a user pressing Ctrl-C again expects.

#include <atomic>
#include <thread>

namespace kelvaro::cli {

class TInterruptWatch final {
public:
    // Create it before any other thread, which then inherits the blocked signals.
    TInterruptWatch();
    // Returns at once: the watcher is woken, not waited out.
    ~TInterruptWatch();
    TInterruptWatch(const TInterruptWatch&) = delete;
    TInterruptWatch& operator=(const TInterruptWatch&) = delete;

    bool Requested() const { return signal_ != 0; }
    // The signal that asked for the stop; 0 while none did.
    int Signal() const { return signal_; }

private:
    void Watch();

    int signalDescriptor_ = -1;
    int wakeDescriptor_ = -1;
    std::atomic<int> signal_{0};
    std::thread watcher_;
};

}  // namespace kelvaro::cli
