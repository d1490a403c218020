#pragma once
// The converter component: owns the engine jobs of a run, turns option records into their
// settings, starts them in worker threads (or one after the other on the main thread) and
// raises OnLog, OnProgress and OnTerminate.
//
// Threads: LoadLibraries, AddInputFile, SetOutputFile, Start, Stop, Clear and destruction run
// on the main thread. Events are raised on the thread that runs the job, inside EventLock, so
// one component's handlers never run at the same time; handlers must return quickly and must
// never wait for the main thread (it may be waiting for a worker in Clear or destruction).
// A handler replaced or removed is not called for any event raised after its setter returned.
//
// Locks, in the order they may be taken: ConverterRegistry's, EventLock, the job list's,
// LogItems'. CodecLock is shared by the jobs around stream probing and codec open and close.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "converter/ffmpeg_hlpr.h"
#include "converter/ffmpeg_list.h"
#include "converter/main_thread_scheduler.h"
#include "converter/option_records.h"
#include "converter/system_colors.h"
#include "engine/job_thread.h"
#include "engine/logging.h"

namespace kelvaro {

// Which decoders serve RealVideo 3 and 4: the media library's own, or the bridge's.
enum TRV34Codec : int32_t { rvFFmpeg, rvRVDLL };

using TLogEvent = std::function<void(int32_t AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;
// Durations in milliseconds; ATotalDuration is -1 when the length is unknown.
using TProgressEvent = std::function<void(int32_t AIndex, int32_t AFrameNumber, int32_t AFPS,
                                          int32_t ADurationTime, float AQuality, float ABitRate,
                                          int64_t ACurrentSize, int32_t ATotalDuration)>;
// AIndex -1: the whole run has ended.
using TTerminateEvent = std::function<void(int32_t AIndex, bool AFinished)>;

// Makes the component's jobs. A seam: tests make jobs whose transcode is scripted.
using TJobFactory = std::function<std::unique_ptr<TFFmpegHlpr>(std::mutex& codecLock)>;

// A published placeholder; it holds nothing.
struct TLumoAbout {};

class TCustomAVConverter : public TLogDispatcher {
public:
    virtual ~TCustomAVConverter();
    TCustomAVConverter(const TCustomAVConverter&) = delete;
    TCustomAVConverter& operator=(const TCustomAVConverter&) = delete;

    // Loads the media libraries (a no-op once loaded) and installs the library log callback.
    // False with the loader's text in LastError.
    bool LoadLibraries(const std::string& folder, bool versioned);
    // A job for one input file: its index, or -1 with the reason in LastError.
    int32_t AddInputFile(const std::string& fileName, const TInputOptions* options = nullptr);
    // Configures job `index`'s output from `options` and opens it. False with the reason in
    // LastError; std::out_of_range for an index out of range.
    bool SetOutputFile(int32_t index, const std::string& fileName,
                       const TOutputOptions* options = nullptr);
    // A job whose files `setUp` opens when its turn comes, on the thread that runs it: it
    // holds nothing while it waits (not even an engine job) and is released once it has
    // ended. Its index, or -1 when the media libraries are not loaded (the reason in
    // LastError). A failure to open is the job's failure: OnTerminate with AFinished False,
    // the reason in JobError. Added during a run begun with BeginRun, it joins that run and
    // may start before this returns.
    int32_t AddJob(const std::string& inputFileName, TJobSetUp setUp);
    int32_t JobCount() const;
    // The job's first input as it was opened; std::out_of_range for an index out of range.
    TInputDescription InputContext(int32_t index) const;
    // Why job `index` failed: the failure that ended its transcode, or why it could not
    // start; empty when neither (or for no such job). Known from the job's OnTerminate on,
    // also while Clear destroys the jobs, until Clear returns.
    std::string JobError(int32_t index) const;
    // Whether job `index` failed while opening its files (its input, or its output), before
    // any conversion. Known from the job's OnTerminate on, until Clear returns.
    bool JobFailedToOpen(int32_t index) const;
    // Whether job `index` was stopped and its output, valid up to where it stopped, was kept
    // under its partial name. Known from the job's OnTerminate on, until Clear returns.
    bool StoppedOutputKept(int32_t index) const;
    // The partial name ("song.partial.wma") an output of job `index` was kept under, because
    // the job was stopped or its input ended early beside an earlier output; empty when
    // none was kept. Known like StoppedOutputKept.
    std::string PartialOutput(int32_t index) const;
    // The last error line the library logged for job `index`; empty when none. Known like
    // JobError.
    std::string JobLibraryError(int32_t index) const;
    // Why job `index`, though finished, is not a plain success (its input ended early, it
    // met decoding errors); empty otherwise. Known like JobError.
    std::string JobWarning(int32_t index) const;

    // Runs every job: at most `parallelism` at once in worker threads, each termination
    // starting the next; 0 or less runs them one after the other on the main thread, each
    // 100 ms after the previous step, through the main-thread scheduler (std::logic_error
    // when none is set). A first job that cannot start is reported as terminated, then its
    // FFMpegException passes through.
    void Start(int32_t parallelism);
    // Starts a run as Start does, but one that goes on taking the jobs AddJob adds, so that
    // the first file converts while later ones are still being listed. Its end (OnTerminate
    // -1) is reported once EndOfJobs was called and every job of the run has ended: by the
    // last job to end, or by EndOfJobs itself, on its thread, when all had. A run that got no
    // job reports no end, as Start's does. AddInputFile is refused while such a run takes
    // jobs.
    void BeginRun(int32_t parallelism);
    void EndOfJobs();
    // No further job starts; every job is asked to stop. Does not wait.
    void Stop();
    // Destroys every job, waiting for each worker; clears LastError.
    void Clear();
    const std::string& LastError() const { return lastError_; }

    // Whether an output that holds less than it should (a stopped job's, or a short input's
    // beside an earlier output) is kept under its partial name (the default), or removed.
    // It never takes the final name: an earlier file of that name stays as it was. Read as
    // each job starts.
    bool KeepStoppedOutputs() const { return keepStoppedOutputs_; }
    void SetKeepStoppedOutputs(bool keep) { keepStoppedOutputs_ = keep; }

    // A complete library line logged on thread `threadId`: raised as OnLog for the job that
    // runs on that thread, or with AIndex -1. Called by the library log callback.
    void DispatchLog(uint32_t threadId, int level, const std::string& line) final;

    // --- Seams, set before jobs are added.
    void SetJobFactory(TJobFactory factory);
    // Not owned; must outlive the component's runs.
    void SetMainThreadScheduler(TMainThreadScheduler* scheduler);
    // The palette that system-colour references in PadColor resolve through.
    void SetSystemColors(const TSystemColorTable& colors);

protected:
    TCustomAVConverter();

    // Raised by the engine on the thread that runs the job. `level` is on the library scale
    // (-1 quiet .. 3 all); `index` -1 when the line belongs to no job.
    virtual void DoLog(int32_t index, int level, const std::string& text);
    virtual void DoProgress(TFFmpegHlpr& job, int32_t frameNumber, int32_t fps,
                            int32_t durationTime, float quality, float bitRate, int64_t currentSize,
                            int32_t totalDuration);
    virtual void DoTerminate(TFFmpegHlpr& job);

    void StartNext();
    void StartJob(int32_t index);

    // The most derived class registers once it is complete and shuts down first in its
    // destructor: worker threads call virtual functions of the component until then.
    void Register();
    void Shutdown();

    // --- Properties; TLumoAVConverter publishes them.
    TLogLevel LogLevel() const { return logLevel_; }
    void SetLogLevel(TLogLevel level) { logLevel_ = level; }
    // Milliseconds between a job's progress events; 100 or less stores 100.
    int32_t ProgressInterval() const { return progressInterval_; }
    void SetProgressInterval(int32_t milliseconds);
    TRV34Codec RealVideo34Codec() const { return realVideo34Codec_; }
    void SetRealVideo34Codec(TRV34Codec codec) { realVideo34Codec_ = codec; }
    TConvertPriority ThreadPriority() const { return threadPriority_; }
    void SetThreadPriority(TConvertPriority priority) { threadPriority_ = priority; }
    TLogEvent OnLog() const;
    void SetOnLog(TLogEvent handler);
    TProgressEvent OnProgress() const;
    void SetOnProgress(TProgressEvent handler);
    TTerminateEvent OnTerminate() const;
    void SetOnTerminate(TTerminateEvent handler);

    TLumoAbout About;
    // Shared by all jobs of this component.
    std::mutex CodecLock;
    // Held while an event is raised and while a termination advances the run.
    mutable std::recursive_mutex EventLock;

private:
    void StartRun(int32_t parallelism, bool takesJobs);
    std::unique_ptr<TFFmpegHlpr> MakeJob();
    void ConnectHandlers(TFFmpegHlpr& job);
    // Closes the files of the job AddInputFile and SetOutputFile work on: a job waiting for
    // its turn holds none.
    void ReleaseJobBeingSetUp();
    // Reports the run's end when it has come. The caller holds EventLock.
    void ReportEndIfDone();
    // A job that could not even be made or started: reported as ended, for `reason`, and
    // the run goes on.
    void EndUnstartedJob(int32_t index, const std::string& reason);
    void RunScheduledStart(uint64_t generation, int32_t index);
    // Calls OnTerminate; a failure of the handler is logged (OnLog, error level), never
    // passed on. The caller holds EventLock.
    void RaiseTerminate(int32_t index, bool finished);

    TFFmpegList jobs_;
    // --- Main thread only.
    std::string lastError_;
    TJobFactory jobFactory_;
    TMainThreadScheduler* scheduler_ = nullptr;
    TSystemColorTable systemColors_;
    // Scheduled starts hold it weakly, so that none runs after destruction.
    std::shared_ptr<TCustomAVConverter*> alive_;
    // The job whose files stay open between AddInputFile and SetOutputFile; -1 for none.
    int32_t jobBeingSetUp_ = -1;
    bool registered_ = false;
    bool shutDown_ = false;

    // --- Read on job threads.
    std::atomic<TLogLevel> logLevel_{llInfo};
    std::atomic<int32_t> progressInterval_{500};
    std::atomic<TRV34Codec> realVideo34Codec_{rvFFmpeg};
    std::atomic<TConvertPriority> threadPriority_{tpNormal};
    std::atomic<bool> keepStoppedOutputs_{true};

    // --- Guarded by EventLock.
    std::shared_ptr<const TLogEvent> onLog_;
    std::shared_ptr<const TProgressEvent> onProgress_;
    std::shared_ptr<const TTerminateEvent> onTerminate_;
    int32_t maxParallel_ = 0;
    int32_t nextJob_ = -1;
    int32_t pendingCount_ = 0;
    int32_t finishedCount_ = 0;
    // Jobs of the current run, and whether its end was reported.
    int32_t runJobCount_ = 0;
    bool runEndReported_ = false;
    // The run takes jobs from AddJob until EndOfJobs.
    bool runTakesJobs_ = false;
    // Changes with Clear, so that a start scheduled before it never runs after it.
    uint64_t generation_ = 0;
    // Failure texts by job index.
    std::map<int32_t, std::string> jobErrors_;
    std::set<int32_t> stoppedOutputsKept_;
    std::map<int32_t, std::string> partialOutputs_;
    std::map<int32_t, std::string> libraryErrors_;
    std::set<int32_t> openFailures_;
    // Warning texts of finished jobs, by job index.
    std::map<int32_t, std::string> jobWarnings_;
};

class TLumoAVConverter final : public TCustomAVConverter {
public:
    TLumoAVConverter();
    ~TLumoAVConverter() override;

    using TCustomAVConverter::About;
    using TCustomAVConverter::LogLevel;
    using TCustomAVConverter::OnLog;
    using TCustomAVConverter::OnProgress;
    using TCustomAVConverter::OnTerminate;
    using TCustomAVConverter::ProgressInterval;
    using TCustomAVConverter::RealVideo34Codec;
    using TCustomAVConverter::SetLogLevel;
    using TCustomAVConverter::SetOnLog;
    using TCustomAVConverter::SetOnProgress;
    using TCustomAVConverter::SetOnTerminate;
    using TCustomAVConverter::SetProgressInterval;
    using TCustomAVConverter::SetRealVideo34Codec;
    using TCustomAVConverter::SetThreadPriority;
    using TCustomAVConverter::ThreadPriority;
};

}  // namespace kelvaro
