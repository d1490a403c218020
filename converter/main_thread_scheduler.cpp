#include "converter/main_thread_scheduler.h"

#include <algorithm>

namespace kelvaro {

TDelayedTaskQueue::TDelayedTaskQueue(std::function<Clock::time_point()> now) : now_(std::move(now))
{
}

void TDelayedTaskQueue::RunLater(std::chrono::milliseconds delay, std::function<void()> task)
{
    const Clock::time_point due = now_() + delay;
    std::lock_guard lock(mutex_);
    tasks_.push_back({due, posted_++, std::move(task)});
}

int TDelayedTaskQueue::RunDue()
{
    const Clock::time_point now = now_();
    std::vector<TTask> due;
    {
        std::lock_guard lock(mutex_);
        const auto notDue = std::stable_partition(
            tasks_.begin(), tasks_.end(), [&](const TTask& task) { return task.due <= now; });
        due.assign(std::make_move_iterator(tasks_.begin()), std::make_move_iterator(notDue));
        tasks_.erase(tasks_.begin(), notDue);
    }
    std::sort(due.begin(), due.end(), [](const TTask& a, const TTask& b) {
        return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
    // Outside the lock: a task may post the next one. A task that throws ends this call;
    // the due tasks behind it stay queued for the next.
    for (size_t i = 0; i < due.size(); ++i) {
        try {
            due[i].run();
        } catch (...) {
            std::lock_guard lock(mutex_);
            tasks_.insert(tasks_.end(), std::make_move_iterator(due.begin() + i + 1),
                          std::make_move_iterator(due.end()));
            throw;
        }
    }
    return static_cast<int>(due.size());
}

std::optional<TDelayedTaskQueue::Clock::time_point> TDelayedTaskQueue::NextDue() const
{
    std::lock_guard lock(mutex_);
    if (tasks_.empty())
        return std::nullopt;
    return std::min_element(tasks_.begin(), tasks_.end(),
                            [](const TTask& a, const TTask& b) { return a.due < b.due; })
        ->due;
}

size_t TDelayedTaskQueue::Pending() const
{
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

}  // namespace kelvaro
