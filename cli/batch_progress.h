#pragma once
// What the command line knows about each file of a batch. The converter's events arrive on
// worker threads and only record here, under a lock held for a few assignments; the main
// thread reads copies and does all the printing, so no worker ever waits for it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/logging.h"

namespace kelvaro::cli {

enum class TFileState { Waiting, Converting, Done, Failed, Stopped };

struct TFileStatus {
    using Clock = std::chrono::steady_clock;
    std::string Input;
    std::string Output;
    TFileState State = TFileState::Waiting;
    std::string Reason;       // why it failed, or the warning of a file done with one
    bool OutputKept = false;  // stopped, and what it had converted kept the output's name
    int32_t PositionMs = 0;   // output position at the last report
    int32_t TotalMs = -1;     // expected length; -1 when unknown
    Clock::time_point FirstReport{};
    Clock::time_point LastReport{};
};

struct TLogLine {
    std::string File;  // the input of the job that logged it; empty for none
    TLogLevel Level = llError;
    std::string Text;
};

class TBatchProgress final {
public:
    using Clock = TFileStatus::Clock;
    explicit TBatchProgress(std::function<Clock::time_point()> now = Clock::now);

    // --- Main thread, before the run.
    int AddFile(const std::string& input, const std::string& output);
    // The file gets no conversion, for `reason`.
    void Reject(int file, const std::string& reason);
    void BindJob(int32_t jobIndex, int file);

    // --- Any thread: the converter's events.
    void JobProgress(int32_t jobIndex, int32_t positionMs, int32_t totalMs);
    // A job ended: converted, stopped, or failed for `reason`. A file rejected before the
    // run keeps its first reason.
    void JobEnded(int32_t jobIndex, TFileState state, const std::string& reason,
                  bool outputKept = false);
    void RunEnded();
    void Log(int32_t jobIndex, TLogLevel level, const std::string& text);
    // The output file of a job; empty for a job the batch does not know.
    std::string OutputOfJob(int32_t jobIndex) const;

    // --- Main thread.
    // Returns when something was recorded since the last call, or after `timeout`.
    void WaitForChange(std::chrono::milliseconds timeout);
    // The run has ended, or every job of it has.
    bool Ended() const;
    std::vector<TFileStatus> Files() const;
    // Files that ended since the last call, in the order they ended.
    std::vector<int> TakeEnded();
    // Lines logged since the last call. At most kMaxPendingLines wait; beyond, the count of
    // dropped lines is reported as a line of its own.
    std::vector<TLogLine> TakeLogLines();

    static constexpr size_t kMaxPendingLines = 10000;

private:
    int FileOfJob(int32_t jobIndex) const;  // -1 for none; caller holds mutex_

    std::function<Clock::time_point()> now_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_.
    std::vector<TFileStatus> files_;
    std::map<int32_t, int> fileOfJob_;
    int jobsEnded_ = 0;
    bool runEnded_ = false;
    bool pendingChange_ = false;
    std::vector<int> ended_;
    std::vector<TLogLine> lines_;
    size_t droppedLines_ = 0;
};

}  // namespace kelvaro::cli
