#include "engine/job_thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/job.h"
#include "engine/logging.h"

namespace kelvaro {

TFFmpegThread::TFFmpegThread(TCustomFFmpegHlpr& job) : job_(&job)
{
    thread_ = std::thread([this] {
        {
            std::unique_lock lock(mutex_);
            threadId_ = CurrentThreadId();
            wake_.notify_all();
            wake_.wait(lock, [this] { return resumed_ || cancelled_; });
            if (cancelled_)
                return;
        }
        Execute();
    });
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return threadId_ != 0; });
}

TFFmpegThread::~TFFmpegThread()
{
    {
        std::lock_guard lock(mutex_);
        if (!resumed_)
            cancelled_ = true;
        wake_.notify_all();
    }
    Join();
}

void TFFmpegThread::SetPriority(TConvertPriority priority)
{
    // Linux keeps a policy and a nice value per thread, and a new thread inherits its
    // creator's: a job started from the end of another would add its lowering to that job's.
    // So both are set from the process's own, whichever thread starts the job. Going back up
    // may be refused to an unprivileged process; the job then keeps what it inherited.
    sched_param parameters{};
    pthread_setschedparam(thread_.native_handle(), priority == tpIdle ? SCHED_IDLE : SCHED_OTHER,
                          &parameters);
    const int lower = priority == tpLowest ? 10 : (priority == tpLower ? 5 : 0);
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (base == -1 && errno != 0)
        return;
    setpriority(PRIO_PROCESS, threadId_, std::min(base + lower, 19));
}

void TFFmpegThread::Resume()
{
    std::lock_guard lock(mutex_);
    resumed_ = true;
    wake_.notify_all();
}

void TFFmpegThread::Join()
{
    if (thread_.joinable() && !IsCurrentThread())
        thread_.join();
}

void TFFmpegThread::Execute()
{
    try {
        job_->Run();
    } catch (...) {
        // Run has recorded and logged the failure and reported the job's end; a worker has
        // nobody to rethrow to.
    }
}

}  // namespace kelvaro
