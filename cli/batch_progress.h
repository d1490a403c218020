#pragma once
// What the command line knows about each file of a batch. The converter's events arrive on
// worker threads and only record here, under a lock held for a few assignments; the main
// thread reads copies and does all the printing, so no worker ever waits for it.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/logging.h"

namespace kelvaro::cli {

enum class TFileState { Waiting, Converting, Done, Failed, Stopped, Skipped };
// How long log lines and ended files wait before they are shown, so that a failing job's
// own error line gives way to its failure, and a file's lines come before its end.
inline constexpr std::chrono::milliseconds kShowSettle{50};
inline constexpr size_t kFileStateCount = 6;

struct TFileStatus {
    using Clock = std::chrono::steady_clock;
    std::string Input;
    std::string Output;
    TFileState State = TFileState::Waiting;
    std::string Reason;       // why it failed or was skipped; the warning of a file done with one
    bool OutputKept = false;  // stopped, and what it had converted kept as Output (partial)
    int32_t PositionMs = 0;   // output position at the last report
    int32_t TotalMs = -1;     // expected length; -1 when unknown
    bool Started = false;     // its job began opening its files
    Clock::time_point StartTime{};
    Clock::time_point EndTime{};
    Clock::time_point FirstReport{};
    Clock::time_point LastReport{};
};

struct TLogLine {
    std::string File;  // the input of the job that logged it; empty for none
    TLogLevel Level = llError;
    std::string Text;
    TFileStatus::Clock::time_point Time{};  // when it was logged
};

// The batch at one moment, for the progress display.
struct TBatchCounts {
    using Clock = TFileStatus::Clock;
    size_t Listed = 0;
    std::array<size_t, kFileStateCount> InState{};
    size_t Jobs = 0;       // files given a job
    size_t JobsEnded = 0;  // of those, ended
    // The converting files' shares done (by audio position), summed.
    double ConvertingShare = 0;
    bool ListEnded = false;
    // When the first job began; none before.
    bool AnyStarted = false;
    Clock::time_point FirstStart{};

    size_t Count(TFileState state) const { return InState[static_cast<size_t>(state)]; }
    // Done, failed, stopped or skipped.
    size_t Ended() const
    {
        return Listed - Count(TFileState::Waiting) - Count(TFileState::Converting);
    }
};

class TBatchProgress final {
public:
    using Clock = TFileStatus::Clock;
    explicit TBatchProgress(std::function<Clock::time_point()> now = Clock::now);

    // --- Main thread, while the batch is listed.
    int AddFile(const std::string& input, const std::string& output);
    // The file gets no conversion, for `reason`: it failed.
    void Reject(int file, const std::string& reason);
    // The file needs no conversion: `reason` says why.
    void Skip(int file, const std::string& reason);
    // Before the job is added: it may start at once.
    void BindJob(int32_t jobIndex, int file);
    // The job was not added after all.
    void UnbindJob(int32_t jobIndex);
    // Every file is listed.
    void EndList();

    // --- Any thread: the converter's events, and the start of a file's job.
    void FileStarted(int file);
    void JobProgress(int32_t jobIndex, int32_t positionMs, int32_t totalMs);
    // A job ended: converted, stopped, or failed for `reason`. A file rejected before the
    // run keeps its first reason. The job's error line that said `reason` is dropped while
    // it waits: the file's failure says it. `keptPartial`: the partial name a stopped job's
    // output was kept under, which becomes the file's output; empty when none was kept.
    void JobEnded(int32_t jobIndex, TFileState state, const std::string& reason,
                  const std::string& keptPartial = {});
    void RunEnded();
    void Log(int32_t jobIndex, TLogLevel level, const std::string& text);
    // The output and the input file of a job; empty for a job the batch does not know.
    std::string OutputOfJob(int32_t jobIndex) const;
    std::string InputOfJob(int32_t jobIndex) const;

    // --- Main thread.
    // Returns when something was recorded since the last call, or after `timeout`.
    void WaitForChange(std::chrono::milliseconds timeout);
    // The list has ended and so has the run, or every job of it.
    bool Ended() const;
    std::vector<TFileStatus> Files() const;
    TFileStatus File(int file) const;
    TBatchCounts Counts() const;
    std::vector<TFileStatus> ConvertingFiles() const;
    // Files that ended since the last call (skipped and rejected ones included), at least
    // `settle` ago, in the order they ended: taken with the same `settle` as the log lines,
    // a file comes after the lines logged before it ended.
    std::vector<int> TakeEnded(Clock::duration settle = {});
    // Lines logged since the last call, at least `settle` ago (so that a job's failure can
    // drop its own line first). At most kMaxPendingLines wait; beyond, the count of dropped
    // lines is reported as a line of its own.
    std::vector<TLogLine> TakeLogLines(Clock::duration settle = {});

    static constexpr size_t kMaxPendingLines = 10000;

private:
    // The caller holds mutex_.
    int FileOfJob(int32_t jobIndex) const;  // -1 for none
    void SetState(int file, TFileState state);
    void Changed();

    std::function<Clock::time_point()> now_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_.
    std::vector<TFileStatus> files_;
    std::array<size_t, kFileStateCount> inState_{};
    std::set<int> converting_;
    std::map<int32_t, int> fileOfJob_;
    int jobsEnded_ = 0;
    bool listEnded_ = false;
    bool runEnded_ = false;
    bool anyStarted_ = false;
    Clock::time_point firstStart_{};
    bool pendingChange_ = false;
    std::vector<std::pair<int, Clock::time_point>> ended_;
    std::vector<TLogLine> lines_;
    size_t droppedLines_ = 0;
};

}  // namespace kelvaro::cli
