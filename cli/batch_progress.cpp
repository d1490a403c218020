#include "cli/batch_progress.h"

namespace kelvaro::cli {

TBatchProgress::TBatchProgress(std::function<Clock::time_point()> now) : now_(std::move(now)) {}

int TBatchProgress::AddFile(const std::string& input, const std::string& output)
{
    std::lock_guard lock(mutex_);
    TFileStatus status;
    status.Input = input;
    status.Output = output;
    files_.push_back(std::move(status));
    return static_cast<int>(files_.size()) - 1;
}

void TBatchProgress::Reject(int file, const std::string& reason)
{
    std::lock_guard lock(mutex_);
    files_.at(static_cast<size_t>(file)).State = TFileState::Failed;
    files_.at(static_cast<size_t>(file)).Reason = reason;
}

void TBatchProgress::BindJob(int32_t jobIndex, int file)
{
    std::lock_guard lock(mutex_);
    fileOfJob_[jobIndex] = file;
}

int TBatchProgress::FileOfJob(int32_t jobIndex) const
{
    const auto found = fileOfJob_.find(jobIndex);
    return found == fileOfJob_.end() ? -1 : found->second;
}

void TBatchProgress::JobProgress(int32_t jobIndex, int32_t positionMs, int32_t totalMs)
{
    const Clock::time_point now = now_();
    std::lock_guard lock(mutex_);
    const int file = FileOfJob(jobIndex);
    if (file < 0)
        return;
    TFileStatus& status = files_[static_cast<size_t>(file)];
    if (status.State == TFileState::Waiting) {
        status.State = TFileState::Converting;
        status.FirstReport = now;
    }
    status.LastReport = now;
    status.PositionMs = positionMs;
    status.TotalMs = totalMs;
    pendingChange_ = true;
    changed_.notify_all();
}

void TBatchProgress::JobEnded(int32_t jobIndex, TFileState state, const std::string& reason,
                              bool outputKept)
{
    std::lock_guard lock(mutex_);
    ++jobsEnded_;
    const int file = FileOfJob(jobIndex);
    if (file >= 0) {
        TFileStatus& status = files_[static_cast<size_t>(file)];
        if (status.State != TFileState::Failed) {
            status.State = state;
            status.Reason = reason;
            status.OutputKept = outputKept;
        }
        ended_.push_back(file);
    }
    pendingChange_ = true;
    changed_.notify_all();
}

void TBatchProgress::RunEnded()
{
    std::lock_guard lock(mutex_);
    runEnded_ = true;
    pendingChange_ = true;
    changed_.notify_all();
}

void TBatchProgress::Log(int32_t jobIndex, TLogLevel level, const std::string& text)
{
    std::lock_guard lock(mutex_);
    if (lines_.size() >= kMaxPendingLines) {
        ++droppedLines_;
        return;
    }
    const int file = FileOfJob(jobIndex);
    lines_.push_back(
        {file >= 0 ? files_[static_cast<size_t>(file)].Input : std::string(), level, text});
    pendingChange_ = true;
    changed_.notify_all();
}

std::string TBatchProgress::OutputOfJob(int32_t jobIndex) const
{
    std::lock_guard lock(mutex_);
    const int file = FileOfJob(jobIndex);
    return file < 0 ? std::string() : files_[static_cast<size_t>(file)].Output;
}

void TBatchProgress::WaitForChange(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return pendingChange_; });
    pendingChange_ = false;
}

bool TBatchProgress::Ended() const
{
    std::lock_guard lock(mutex_);
    return runEnded_ || jobsEnded_ >= static_cast<int>(fileOfJob_.size());
}

std::vector<TFileStatus> TBatchProgress::Files() const
{
    std::lock_guard lock(mutex_);
    return files_;
}

std::vector<int> TBatchProgress::TakeEnded()
{
    std::lock_guard lock(mutex_);
    return std::exchange(ended_, {});
}

std::vector<TLogLine> TBatchProgress::TakeLogLines()
{
    std::lock_guard lock(mutex_);
    std::vector<TLogLine> lines = std::exchange(lines_, {});
    if (droppedLines_ > 0) {
        lines.push_back({{}, llError, std::to_string(droppedLines_) + " more lines were dropped"});
        droppedLines_ = 0;
    }
    return lines;
}

}  // namespace kelvaro::cli
