#include "converter/ffmpeg_list.h"

#include <stdexcept>
#include <string>

namespace kelvaro {
namespace {

void CheckIndex(int32_t index, size_t count)
{
    if (index < 0 || static_cast<size_t>(index) >= count)
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

}  // namespace

TFFmpegHlpr& TFFmpegList::Items(int32_t index) const
{
    std::lock_guard lock(mutex_);
    CheckIndex(index, items_.size());
    const TEntry& entry = items_[static_cast<size_t>(index)];
    if (!entry.Job)
        throw std::logic_error("Job " + std::to_string(index) + " has no engine job now");
    return *entry.Job;
}

int32_t TFFmpegList::Count() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int32_t>(items_.size());
}

int32_t TFFmpegList::Add(std::unique_ptr<TFFmpegHlpr> job)
{
    std::lock_guard lock(mutex_);
    const auto index = static_cast<int32_t>(items_.size());
    job->Index = index;
    items_.push_back({std::move(job), {}, {}});
    return index;
}

int32_t TFFmpegList::AddToMakeAtStart(const std::string& inputFileName, TJobSetUp setUp)
{
    std::lock_guard lock(mutex_);
    const auto index = static_cast<int32_t>(items_.size());
    items_.push_back({nullptr, std::move(setUp), inputFileName});
    return index;
}

TFFmpegHlpr& TFFmpegList::MakeAtStart(int32_t index, const TJobMaker& make)
{
    std::lock_guard lock(mutex_);
    CheckIndex(index, items_.size());
    TEntry& entry = items_[static_cast<size_t>(index)];
    if (!entry.Job && entry.SetUp) {
        entry.Job = make(std::move(entry.SetUp));
        entry.SetUp = nullptr;
        entry.Job->Index = index;
        entry.Job->MadeAtStart = true;
    }
    if (!entry.Job)
        throw std::logic_error("Job " + std::to_string(index) + " has no engine job now");
    return *entry.Job;
}

TInputDescription TFFmpegList::InputOf(int32_t index) const
{
    std::lock_guard lock(mutex_);
    CheckIndex(index, items_.size());
    const TEntry& entry = items_[static_cast<size_t>(index)];
    // A job made at its start describes its input on its own worker: only the name is safe.
    if (entry.Job && !entry.Job->MadeAtStart)
        return entry.Job->Input;
    TInputDescription input;
    input.FileName = entry.InputFileName;
    return input;
}

void TFFmpegList::Retire(int32_t index)
{
    std::lock_guard lock(mutex_);
    CheckIndex(index, items_.size());
    TEntry& entry = items_[static_cast<size_t>(index)];
    if (entry.Job && entry.Job->MadeAtStart)
        retired_.push_back(std::move(entry.Job));
}

void TFFmpegList::ReapRetired()
{
    std::vector<std::unique_ptr<TFFmpegHlpr>> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(retired_);
    }
    taken.clear();
}

TFFmpegHlpr* TFFmpegList::FindByThreadID(uint32_t threadId) const
{
    std::lock_guard lock(mutex_);
    for (const TEntry& entry : items_)
        if (entry.Job && entry.Job->ThreadID == threadId)
            return entry.Job.get();
    return nullptr;
}

int32_t TFFmpegList::IndexOfThreadID(uint32_t threadId, int* logLevel) const
{
    // Read under the lock: once it is released, Clear may take the job away.
    std::lock_guard lock(mutex_);
    for (const TEntry& entry : items_)
        if (entry.Job && entry.Job->ThreadID == threadId) {
            if (logLevel)
                *logLevel = entry.Job->JobLogLevel;
            return entry.Job->Index;
        }
    return -1;
}

void TFFmpegList::ForEach(const std::function<void(TFFmpegHlpr&)>& visit) const
{
    std::lock_guard lock(mutex_);
    for (const TEntry& entry : items_)
        if (entry.Job)
            visit(*entry.Job);
}

void TFFmpegList::Clear()
{
    std::vector<TEntry> taken;
    std::vector<std::unique_ptr<TFFmpegHlpr>> retired;
    {
        std::lock_guard lock(mutex_);
        taken.swap(items_);
        retired.swap(retired_);
    }
    // In index order; each destruction waits for the job's worker.
    for (TEntry& entry : taken)
        entry.Job.reset();
    retired.clear();
}

}  // namespace kelvaro
