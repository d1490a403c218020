#include "converter/ffmpeg_list.h"

#include <stdexcept>
#include <string>

namespace kelvaro {

TFFmpegHlpr& TFFmpegList::Items(int32_t index) const
{
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= items_.size())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return *items_[static_cast<size_t>(index)];
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
    items_.push_back(std::move(job));
    return index;
}

TFFmpegHlpr* TFFmpegList::FindByThreadID(uint32_t threadId) const
{
    std::lock_guard lock(mutex_);
    for (const auto& job : items_)
        if (job->ThreadID == threadId)
            return job.get();
    return nullptr;
}

int32_t TFFmpegList::IndexOfThreadID(uint32_t threadId) const
{
    std::lock_guard lock(mutex_);
    for (const auto& job : items_)
        if (job->ThreadID == threadId)
            return job->Index;
    return -1;
}

void TFFmpegList::ForEach(const std::function<void(TFFmpegHlpr&)>& visit) const
{
    std::lock_guard lock(mutex_);
    for (const auto& job : items_)
        visit(*job);
}

void TFFmpegList::Clear()
{
    std::vector<std::unique_ptr<TFFmpegHlpr>> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(items_);
    }
    // In index order; each destruction waits for the job's worker.
    for (auto& job : taken)
        job.reset();
}

}  // namespace kelvaro
