#pragma once
// How the component defers work to the application's main thread: a start with a
// parallelism of 0 or less runs each job there, 100 ms after the previous step. A plain
// library has no message loop, so the application supplies one: a Qt window a single-shot
// timer, the command line its wait loop, tests a queue they advance by hand.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace kelvaro {

class TMainThreadScheduler {
public:
    // Runs `task` once on the main thread, no sooner than `delay` from now. May be called on
    // any thread; must not run `task` before returning.
    virtual void RunLater(std::chrono::milliseconds delay, std::function<void()> task) = 0;

protected:
    ~TMainThreadScheduler() = default;
};

// Delayed tasks that the main thread runs when it pumps the queue. The clock is injectable
// so that tests can step time.
class TDelayedTaskQueue final : public TMainThreadScheduler {
public:
    using Clock = std::chrono::steady_clock;
    explicit TDelayedTaskQueue(std::function<Clock::time_point()> now = Clock::now);

    void RunLater(std::chrono::milliseconds delay, std::function<void()> task) override;
    // Runs, on the calling thread, every task due by now in order of due time (ties in order
    // of posting); tasks posted meanwhile wait for a later call. Returns how many ran. An
    // exception of a task passes through; the tasks due after it stay queued.
    int RunDue();
    // When the earliest task is due, or none.
    std::optional<Clock::time_point> NextDue() const;
    size_t Pending() const;

private:
    struct TTask {
        Clock::time_point due;
        uint64_t order;
        std::function<void()> run;
    };
    std::function<Clock::time_point()> now_;
    mutable std::mutex mutex_;
    // Guarded by mutex_.
    std::vector<TTask> tasks_;
    uint64_t posted_ = 0;
};

}  // namespace kelvaro
