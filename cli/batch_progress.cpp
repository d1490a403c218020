#include "cli/batch_progress.h"

#include <algorithm>

namespace kelvaro::cli {

TBatchProgress::TBatchProgress(std::function<Clock::time_point()> now) : now_(std::move(now)) {}

void TBatchProgress::Changed()
{
    pendingChange_ = true;
    changed_.notify_all();
}

void TBatchProgress::SetState(int file, TFileState state)
{
    TFileStatus& status = files_.at(static_cast<size_t>(file));
    --inState_[static_cast<size_t>(status.State)];
    ++inState_[static_cast<size_t>(state)];
    status.State = state;
    if (state == TFileState::Converting)
        converting_.insert(file);
    else
        converting_.erase(file);
}

int TBatchProgress::AddFile(const std::string& input, const std::string& output)
{
    std::lock_guard lock(mutex_);
    TFileStatus status;
    status.Input = input;
    status.Output = output;
    files_.push_back(std::move(status));
    ++inState_[static_cast<size_t>(TFileState::Waiting)];
    return static_cast<int>(files_.size()) - 1;
}

void TBatchProgress::Reject(int file, const std::string& reason)
{
    const Clock::time_point now = now_();
    std::lock_guard lock(mutex_);
    SetState(file, TFileState::Failed);
    files_[static_cast<size_t>(file)].Reason = reason;
    ended_.emplace_back(file, now);
    Changed();
}

void TBatchProgress::Skip(int file, const std::string& reason)
{
    const Clock::time_point now = now_();
    std::lock_guard lock(mutex_);
    SetState(file, TFileState::Skipped);
    files_[static_cast<size_t>(file)].Reason = reason;
    ended_.emplace_back(file, now);
    Changed();
}

void TBatchProgress::BindJob(int32_t jobIndex, int file)
{
    std::lock_guard lock(mutex_);
    fileOfJob_[jobIndex] = file;
}

void TBatchProgress::UnbindJob(int32_t jobIndex)
{
    std::lock_guard lock(mutex_);
    fileOfJob_.erase(jobIndex);
}

void TBatchProgress::EndList()
{
    std::lock_guard lock(mutex_);
    listEnded_ = true;
    Changed();
}

int TBatchProgress::FileOfJob(int32_t jobIndex) const
{
    const auto found = fileOfJob_.find(jobIndex);
    return found == fileOfJob_.end() ? -1 : found->second;
}

void TBatchProgress::FileStarted(int file)
{
    const Clock::time_point now = now_();
    std::lock_guard lock(mutex_);
    TFileStatus& status = files_.at(static_cast<size_t>(file));
    status.Started = true;
    status.StartTime = now;
    if (!anyStarted_) {
        anyStarted_ = true;
        firstStart_ = now;
    }
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
        SetState(file, TFileState::Converting);
        status.FirstReport = now;
    }
    status.LastReport = now;
    status.PositionMs = positionMs;
    status.TotalMs = totalMs;
    Changed();
}

void TBatchProgress::JobEnded(int32_t jobIndex, TFileState state, const std::string& reason,
                              const std::string& keptPartial)
{
    const Clock::time_point now = now_();
    std::lock_guard lock(mutex_);
    ++jobsEnded_;
    const int file = FileOfJob(jobIndex);
    if (file >= 0) {
        TFileStatus& status = files_[static_cast<size_t>(file)];
        status.EndTime = now;
        // A file rejected before its job ran has ended once already.
        if (status.State != TFileState::Failed) {
            SetState(file, state);
            status.Reason = reason;
            status.OutputKept = !keptPartial.empty();
            if (status.OutputKept)
                status.Output = keptPartial;
            ended_.emplace_back(file, now);
        }
        const std::string& input = status.Input;
        std::erase_if(lines_, [&](const TLogLine& line) {
            return line.Level == llError && line.File == input && line.Text == reason;
        });
    }
    Changed();
}

void TBatchProgress::RunEnded()
{
    std::lock_guard lock(mutex_);
    runEnded_ = true;
    Changed();
}

void TBatchProgress::Log(int32_t jobIndex, TLogLevel level, const std::string& text)
{
    const Clock::time_point now = now_();
    std::lock_guard lock(mutex_);
    if (lines_.size() >= kMaxPendingLines) {
        ++droppedLines_;
        return;
    }
    const int file = FileOfJob(jobIndex);
    lines_.push_back(
        {file >= 0 ? files_[static_cast<size_t>(file)].Input : std::string(), level, text, now});
    Changed();
}

std::string TBatchProgress::OutputOfJob(int32_t jobIndex) const
{
    std::lock_guard lock(mutex_);
    const int file = FileOfJob(jobIndex);
    return file < 0 ? std::string() : files_[static_cast<size_t>(file)].Output;
}

std::string TBatchProgress::InputOfJob(int32_t jobIndex) const
{
    std::lock_guard lock(mutex_);
    const int file = FileOfJob(jobIndex);
    return file < 0 ? std::string() : files_[static_cast<size_t>(file)].Input;
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
    return listEnded_ && (runEnded_ || jobsEnded_ >= static_cast<int>(fileOfJob_.size()));
}

std::vector<TFileStatus> TBatchProgress::Files() const
{
    std::lock_guard lock(mutex_);
    return files_;
}

TFileStatus TBatchProgress::File(int file) const
{
    std::lock_guard lock(mutex_);
    return files_.at(static_cast<size_t>(file));
}

TBatchCounts TBatchProgress::Counts() const
{
    std::lock_guard lock(mutex_);
    TBatchCounts counts;
    counts.Listed = files_.size();
    counts.InState = inState_;
    counts.Jobs = fileOfJob_.size();
    counts.JobsEnded = static_cast<size_t>(jobsEnded_);
    for (int file : converting_) {
        const TFileStatus& status = files_[static_cast<size_t>(file)];
        if (status.TotalMs > 0)
            counts.ConvertingShare +=
                std::clamp(static_cast<double>(status.PositionMs) / status.TotalMs, 0.0, 1.0);
    }
    counts.ListEnded = listEnded_;
    counts.AnyStarted = anyStarted_;
    counts.FirstStart = firstStart_;
    return counts;
}

std::vector<TFileStatus> TBatchProgress::ConvertingFiles() const
{
    std::lock_guard lock(mutex_);
    std::vector<TFileStatus> converting;
    for (int file : converting_)
        converting.push_back(files_[static_cast<size_t>(file)]);
    return converting;
}

std::vector<int> TBatchProgress::TakeEnded(Clock::duration settle)
{
    const Clock::time_point before = now_() - settle;
    std::lock_guard lock(mutex_);
    std::vector<int> files;
    size_t taken = 0;
    for (; taken < ended_.size() && ended_[taken].second <= before; ++taken)
        files.push_back(ended_[taken].first);
    ended_.erase(ended_.begin(), ended_.begin() + static_cast<ptrdiff_t>(taken));
    return files;
}

std::vector<TLogLine> TBatchProgress::TakeLogLines(Clock::duration settle)
{
    const Clock::time_point before = now_() - settle;
    std::lock_guard lock(mutex_);
    const auto young = std::find_if(lines_.begin(), lines_.end(),
                                    [&](const TLogLine& line) { return line.Time > before; });
    std::vector<TLogLine> lines(std::make_move_iterator(lines_.begin()),
                                std::make_move_iterator(young));
    lines_.erase(lines_.begin(), young);
    if (droppedLines_ > 0 && lines_.empty()) {
        lines.push_back({{}, llError, std::to_string(droppedLines_) + " more lines were dropped"});
        droppedLines_ = 0;
    }
    return lines;
}

}  // namespace kelvaro::cli
