#pragma once
// Log lines from the media library: the level scale, the process-wide list of converter
// components that receive library lines, and the per-thread joining of partial lines.
//
// Lock order: the registry lock is taken first and held while a line is dispatched (so a
// component cannot disappear under it); LogItems' own lock is taken inside it only while a
// thread's pending text is read and written. Clearing LogItems takes only its own lock, so a
// component may clear it while holding its event lock.

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelvaro {

enum TLogLevel : int32_t { llQuiet, llError, llInfo, llDebug, llAll };

// The kernel's id of the calling thread.
uint32_t CurrentThreadId();

// Jobs share the library's one log level and the one LogThreshold: both follow the most
// talkative live job, so that each job still gets every line its own level asks for (the
// component drops what is beyond a job's own level). `job` only identifies the job.
void ShareJobLogLevel(const void* job, int level);
void ForgetJobLogLevel(const void* job);

// What the library log callback hands complete lines to: a converter component.
class TLogDispatcher {
public:
    virtual void DispatchLog(uint32_t threadId, int level, const std::string& line) = 0;

protected:
    ~TLogDispatcher() = default;
};

// Every live converter component, in order of creation.
class TConverterRegistry final {
public:
    void Add(TLogDispatcher* component);
    void Remove(TLogDispatcher* component);
    // Calls `deliver` for every component, in list order, holding the registry lock.
    template <class Deliver>
    void ForEach(Deliver&& deliver)
    {
        std::lock_guard lock(mutex_);
        for (TLogDispatcher* component : components_)
            deliver(*component);
    }
    std::recursive_mutex& Mutex() { return mutex_; }

private:
    // Re-entrant: a handler that makes the library log again must not deadlock.
    std::recursive_mutex mutex_;
    std::vector<TLogDispatcher*> components_;
};

TConverterRegistry& ConverterRegistry();

struct TLogItem {
    uint32_t ThreadId = 0;  // 0: free (only the first item can be)
    std::string Pending;    // what this thread logged since its last line feed
    std::unique_ptr<TLogItem> Next;
};

// The partial lines of every thread that logged through the library.
class TLogList final {
public:
    TLogList() = default;
    ~TLogList() { Clear(); }
    TLogList(const TLogList&) = delete;
    TLogList& operator=(const TLogList&) = delete;

    // The item of a thread, created when missing. The caller holds Mutex().
    TLogItem& ItemOfThread(uint32_t threadId);
    // Forgets every pending text and every item.
    void Clear();
    std::mutex& Mutex() { return mutex_; }

private:
    std::mutex mutex_;
    TLogItem first_;
};

TLogList& LogItems();

// Installed into the media library with av_log_set_callback. Runs on any thread. Nothing
// thrown by a log handler leaves it: the library's C code is never unwound.
void LibraryLogCallback(void* context, int level, const char* format, va_list arguments) noexcept;

}  // namespace kelvaro
