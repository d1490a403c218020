#pragma once
// The worker thread that runs one engine job.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kelvaro {

class TCustomFFmpegHlpr;

// Worker priorities a converter may ask for; higher ones cannot be chosen. Idle maps to
// SCHED_IDLE, the others to nice values above the process's own (0, 5 and 10), whichever
// thread creates the worker.
enum TConvertPriority : int32_t { tpIdle, tpLowest, tpLower, tpNormal };

// Created suspended: the thread exists and knows its id, but runs the job only after
// Resume(), so the creator can set its priority and record its id first. The owner joins it
// (the destructor does); the job must outlive the thread.
class TFFmpegThread final {
public:
    explicit TFFmpegThread(TCustomFFmpegHlpr& job);
    // Joins the thread: destroyed on any thread but its own (the job keeps a worker that
    // released itself until another thread releases it).
    ~TFFmpegThread();
    TFFmpegThread(const TFFmpegThread&) = delete;
    TFFmpegThread& operator=(const TFFmpegThread&) = delete;

    uint32_t ThreadId() const { return threadId_; }
    void SetPriority(TConvertPriority priority);
    void Resume();
    // Waits for the thread to end. Must not be called from the thread itself.
    void Join();
    bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void Execute();

    TCustomFFmpegHlpr* job_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_.
    uint32_t threadId_ = 0;
    bool resumed_ = false;
    bool cancelled_ = false;
};

}  // namespace kelvaro
