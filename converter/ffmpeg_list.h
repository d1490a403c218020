#pragma once
// The component's owning list of jobs, in index order.
//
// Threads: Add and Clear run on the main thread; Items, Count and the look-ups by thread id
// also run on job threads (termination and log dispatch) while the main thread may be
// clearing. Clear takes every job out under the list's lock and destroys them outside it,
// because destroying a job waits for its worker, which may be looking the list up; a look-up
// therefore never meets a job whose destruction has begun.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "converter/ffmpeg_hlpr.h"

namespace kelvaro {

class TFFmpegList final {
public:
    TFFmpegList() = default;
    ~TFFmpegList() { Clear(); }
    TFFmpegList(const TFFmpegList&) = delete;
    TFFmpegList& operator=(const TFFmpegList&) = delete;

    // The job at `index`; std::out_of_range "List index out of bounds (n)" outside 0..Count-1.
    // The reference stays valid until Clear, which only the main thread calls.
    TFFmpegHlpr& Items(int32_t index) const;
    int32_t Count() const;
    // Appends `job`, stores its new index in the job's Index and returns it.
    int32_t Add(std::unique_ptr<TFFmpegHlpr> job);
    // The first job in index order that runs on `threadId`, or none. Only for callers that
    // keep the job alive otherwise (its own thread, or the main thread); others use
    // IndexOfThreadID.
    TFFmpegHlpr* FindByThreadID(uint32_t threadId) const;
    // The Index of that job, or -1; safe on any thread.
    int32_t IndexOfThreadID(uint32_t threadId) const;
    // Calls `visit` for every job in index order, holding the list's lock: `visit` must not
    // wait for anything nor call back into the list.
    void ForEach(const std::function<void(TFFmpegHlpr&)>& visit) const;
    // Destroys every job in index order (each stops and waits for its worker), then the list
    // is empty.
    void Clear();

private:
    mutable std::mutex mutex_;
    // Guarded by mutex_.
    std::vector<std::unique_ptr<TFFmpegHlpr>> items_;
};

}  // namespace kelvaro
