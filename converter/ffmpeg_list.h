#pragma once
// The component's owning list of jobs, in index order.
//
// A job is either added made (Add), or added as what makes it (AddToMakeAtStart): such a
// job is made only when its turn comes (MakeAtStart) and is retired once it has ended, so
// that a list of thousands of files holds a few small records per file, not an engine job
// each.
//
// Threads: Add, AddToMakeAtStart and Clear run on the main thread; the other operations
// also run on job threads (starts, termination and log dispatch) while the main thread may
// be clearing. Clear takes every job out under the list's lock and destroys them outside it,
// because destroying a job waits for its worker, which may be looking the list up; a look-up
// therefore never meets a job whose destruction has begun.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "converter/ffmpeg_hlpr.h"

namespace kelvaro {

// Makes the engine job of an entry added to be made at its start.
using TJobMaker = std::function<std::unique_ptr<TFFmpegHlpr>(TJobSetUp setUp)>;

class TFFmpegList final {
public:
    TFFmpegList() = default;
    ~TFFmpegList() { Clear(); }
    TFFmpegList(const TFFmpegList&) = delete;
    TFFmpegList& operator=(const TFFmpegList&) = delete;

    // The job at `index`; std::out_of_range "List index out of bounds (n)" outside
    // 0..Count-1, std::logic_error for a job that is not made yet or was retired. The
    // reference stays valid until Clear, which only the main thread calls.
    TFFmpegHlpr& Items(int32_t index) const;
    int32_t Count() const;
    // Appends `job`, stores its new index in the job's Index and returns it.
    int32_t Add(std::unique_ptr<TFFmpegHlpr> job);
    // Appends a job that is made when it starts, with `setUp` opening its files.
    int32_t AddToMakeAtStart(const std::string& inputFileName, TJobSetUp setUp);
    // The job at `index`, made by `make` (which gets the entry's set-up) when it is not yet.
    TFFmpegHlpr& MakeAtStart(int32_t index, const TJobMaker& make);
    // What the list knows of the job's input: the job's own description, or the name alone
    // for a job made at its start.
    TInputDescription InputOf(int32_t index) const;
    // A job made at its start has ended: it leaves its entry, to be destroyed by the next
    // ReapRetired on another thread (its own worker is still unwinding).
    void Retire(int32_t index);
    // Destroys the retired jobs; waits for their workers to end. Not on a retired job's
    // own worker.
    void ReapRetired();
    // The first job in index order that runs on `threadId`, or none. Only for callers that
    // keep the job alive otherwise (its own thread, or the main thread); others use
    // IndexOfThreadID.
    TFFmpegHlpr* FindByThreadID(uint32_t threadId) const;
    // The Index of that job, or -1; safe on any thread. `logLevel`, when given, gets the
    // job's own log level.
    int32_t IndexOfThreadID(uint32_t threadId, int* logLevel = nullptr) const;
    // Calls `visit` for every job that exists, in index order, holding the list's lock:
    // `visit` must not wait for anything nor call back into the list.
    void ForEach(const std::function<void(TFFmpegHlpr&)>& visit) const;
    // Destroys every job in index order (each stops and waits for its worker), then the list
    // is empty.
    void Clear();

private:
    struct TEntry {
        std::unique_ptr<TFFmpegHlpr> Job;  // none before its start, and once retired
        // For a job made at its start.
        TJobSetUp SetUp;
        std::string InputFileName;
    };

    mutable std::mutex mutex_;
    // Guarded by mutex_.
    std::vector<TEntry> items_;
    std::vector<std::unique_ptr<TFFmpegHlpr>> retired_;
};

}  // namespace kelvaro
