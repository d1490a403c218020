#include "converter/av_converter.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "medialib/media_functions.h"
#include "medialib/media_loader.h"

namespace kelvaro {
namespace {

constexpr std::chrono::milliseconds kMainThreadStepDelay{100};
// Errors on the library's scale, which DoLog takes.
constexpr int kLibraryErrorLevel = 0;

TLogLevel EventLevel(int libraryLevel)
{
    return static_cast<TLogLevel>(std::clamp(libraryLevel + 1, int{llQuiet}, int{llAll}));
}

template <class Handler>
std::shared_ptr<const Handler> Shared(Handler handler)
{
    return handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
}

}  // namespace

TCustomAVConverter::TCustomAVConverter()
    : systemColors_(DefaultSystemColors()), alive_(std::make_shared<TCustomAVConverter*>(this))
{
}

TCustomAVConverter::~TCustomAVConverter()
{
    Shutdown();
}

void TCustomAVConverter::Register()
{
    if (registered_)
        return;
    ConverterRegistry().Add(this);
    registered_ = true;
}

void TCustomAVConverter::Shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    if (registered_)
        ConverterRegistry().Remove(this);
    alive_.reset();
    {
        std::lock_guard events(EventLock);
        pendingCount_ = 0;
        ++generation_;
    }
    jobs_.Clear();
    // No other thread may still be inside either lock when they go.
    {
        std::lock_guard codecs(CodecLock);
    }
    {
        std::lock_guard events(EventLock);
    }
}

bool TCustomAVConverter::LoadLibraries(const std::string& folder, bool versioned)
{
    if (!LoadMediaLibraries(folder, versioned)) {
        lastError_ = LoadError();
        return false;
    }
    avutil.av_log_set_callback(LibraryLogCallback);
    return true;
}

std::unique_ptr<TFFmpegHlpr> TCustomAVConverter::MakeJob()
{
    return jobFactory_ ? jobFactory_(CodecLock) : std::make_unique<TFFmpegHlpr>(CodecLock);
}

void TCustomAVConverter::ConnectHandlers(TFFmpegHlpr& job)
{
    job.LogHandler = [this](TCustomFFmpegHlpr& sender, int level, const std::string& text) {
        DoLog(static_cast<TFFmpegHlpr&>(sender).Index, level, text);
    };
    job.ProgressHandler = [this](TCustomFFmpegHlpr& sender, int32_t frameNumber, int32_t fps,
                                 int32_t durationTime, float quality, float bitRate,
                                 int64_t currentSize, int32_t totalDuration) {
        DoProgress(static_cast<TFFmpegHlpr&>(sender), frameNumber, fps, durationTime, quality,
                   bitRate, currentSize, totalDuration);
    };
    job.TerminateHandler = [this](TCustomFFmpegHlpr& sender) {
        DoTerminate(static_cast<TFFmpegHlpr&>(sender));
    };
}

void TCustomAVConverter::ReleaseJobBeingSetUp()
{
    const int32_t index = std::exchange(jobBeingSetUp_, -1);
    if (index >= 0 && index < jobs_.Count())
        jobs_.Items(index).ReleaseFiles();
}

int32_t TCustomAVConverter::AddInputFile(const std::string& fileName, const TInputOptions* options)
{
    // Without the libraries every engine call would go through an empty slot.
    if (!MediaLibrariesLoaded()) {
        lastError_ = "The media libraries are not loaded";
        return -1;
    }
    {
        std::lock_guard events(EventLock);
        if (runTakesJobs_) {
            lastError_ = "The run takes its jobs from AddJob";
            return -1;
        }
    }
    ReleaseJobBeingSetUp();
    // The job keeps how it opened its input, and opens it again when it runs.
    std::optional<TInputOptions> kept;
    if (options)
        kept = *options;
    TJobSetUp openInput = [fileName, kept](TFFmpegHlpr& job) {
        if (kept)
            ApplyInputOptions(job, *kept);
        return job.OpenInputFile(fileName);
    };
    std::unique_ptr<TFFmpegHlpr> job;
    try {
        job = MakeJob();
        job->Reset();
        job->SetLogLevel(static_cast<int>(LogLevel()) - 1);
        job->UseLibraryRealVideoDecoders = RealVideo34Codec() == rvFFmpeg;
        job->SetRealVideoDecoder(job->UseLibraryRealVideoDecoders);
        if (!openInput(*job)) {
            lastError_ = job->LastError;
            return -1;
        }
        job->DescribeFirstInput();
    } catch (const std::exception& error) {
        lastError_ = error.what();
        return -1;
    }
    job->AddSetUpStep(std::move(openInput), 1, 0);
    // Connected only now: lines logged while the input opened are not delivered.
    ConnectHandlers(*job);
    jobBeingSetUp_ = jobs_.Add(std::move(job));
    return jobBeingSetUp_;
}

bool TCustomAVConverter::SetOutputFile(int32_t index, const std::string& fileName,
                                       const TOutputOptions* options)
{
    if (index < 0 || index >= jobs_.Count())
        jobs_.Items(index);  // raises the list-index error
    try {
        TFFmpegHlpr& job = jobs_.Items(index);
        if (index != jobBeingSetUp_) {
            ReleaseJobBeingSetUp();
            if (!job.ReopenFiles()) {
                lastError_ = job.LastError;
                job.ReleaseFiles();
                return false;
            }
            jobBeingSetUp_ = index;
        }
        std::optional<TOutputOptions> kept;
        if (options)
            kept = *options;
        TJobSetUp openOutput = [fileName, kept, colors = systemColors_](TFFmpegHlpr& job) {
            if (kept)
                ApplyOutputOptions(job, *kept, colors);
            return job.OpenOutputFile(fileName);
        };
        if (!openOutput(job)) {
            lastError_ = job.LastError;
            return false;
        }
        job.AddSetUpStep(std::move(openOutput), 0, 1);
        return true;
    } catch (const std::exception& error) {
        lastError_ = error.what();
        return false;
    }
}

int32_t TCustomAVConverter::AddJob(const std::string& inputFileName, TJobSetUp setUp)
{
    if (!MediaLibrariesLoaded()) {
        lastError_ = "The media libraries are not loaded";
        return -1;
    }
    ReleaseJobBeingSetUp();
    // Jobs that ended go now, on the main thread, rather than wait for Clear.
    jobs_.ReapRetired();
    const int32_t index = jobs_.AddToMakeAtStart(inputFileName, std::move(setUp));
    // In this order, as everywhere: a start under EventLock may release library objects,
    // which log.
    std::lock_guard registry(ConverterRegistry().Mutex());
    std::lock_guard events(EventLock);
    if (runTakesJobs_) {
        ++pendingCount_;
        ++runJobCount_;
        const int32_t running = nextJob_ - finishedCount_;
        if (running < std::max(maxParallel_, 1))
            StartNext();
    }
    return index;
}

int32_t TCustomAVConverter::JobCount() const
{
    return jobs_.Count();
}

TInputDescription TCustomAVConverter::InputContext(int32_t index) const
{
    return jobs_.InputOf(index);
}

std::string TCustomAVConverter::JobError(int32_t index) const
{
    std::lock_guard events(EventLock);
    const auto error = jobErrors_.find(index);
    return error == jobErrors_.end() ? std::string() : error->second;
}

bool TCustomAVConverter::JobFailedToOpen(int32_t index) const
{
    std::lock_guard events(EventLock);
    return openFailures_.count(index) > 0;
}

bool TCustomAVConverter::StoppedOutputKept(int32_t index) const
{
    std::lock_guard events(EventLock);
    return stoppedOutputsKept_.count(index) > 0;
}

std::string TCustomAVConverter::JobLibraryError(int32_t index) const
{
    std::lock_guard events(EventLock);
    const auto error = libraryErrors_.find(index);
    return error == libraryErrors_.end() ? std::string() : error->second;
}

std::string TCustomAVConverter::PartialOutput(int32_t index) const
{
    std::lock_guard events(EventLock);
    const auto partial = partialOutputs_.find(index);
    return partial == partialOutputs_.end() ? std::string() : partial->second;
}

std::string TCustomAVConverter::JobWarning(int32_t index) const
{
    std::lock_guard events(EventLock);
    const auto warning = jobWarnings_.find(index);
    return warning == jobWarnings_.end() ? std::string() : warning->second;
}

void TCustomAVConverter::Start(int32_t parallelism)
{
    StartRun(parallelism, false);
}

void TCustomAVConverter::BeginRun(int32_t parallelism)
{
    StartRun(parallelism, true);
}

void TCustomAVConverter::EndOfJobs()
{
    std::lock_guard registry(ConverterRegistry().Mutex());
    std::lock_guard events(EventLock);
    if (!runTakesJobs_)
        return;
    runTakesJobs_ = false;
    ReportEndIfDone();
}

void TCustomAVConverter::StartRun(int32_t parallelism, bool takesJobs)
{
    if (parallelism <= 0 && !scheduler_ && (takesJobs || JobCount() > 0))
        throw std::logic_error(
            "Start with a parallelism of 0 or less needs a main-thread scheduler");
    // Every job opens its files again when it runs.
    ReleaseJobBeingSetUp();
    {
        std::lock_guard events(EventLock);
        LogItems().Clear();
        nextJob_ = 0;
        finishedCount_ = 0;
        maxParallel_ = parallelism;
        pendingCount_ = JobCount();
        runJobCount_ = pendingCount_;
        runEndReported_ = false;
        runTakesJobs_ = takesJobs;
    }
    const int32_t starts = parallelism > 0 ? parallelism : 1;
    for (int32_t started = 0; started < starts; ++started) {
        {
            std::lock_guard events(EventLock);
            if (pendingCount_ <= 0)
                break;
        }
        StartNext();
    }
}

void TCustomAVConverter::StartNext()
{
    // A start under EventLock cannot overlap Clear taking the jobs away; the registry comes
    // first because a refused start releases library objects, which may log.
    std::lock_guard registry(ConverterRegistry().Mutex());
    std::lock_guard events(EventLock);
    if (pendingCount_ <= 0)
        return;
    --pendingCount_;
    // Taken before the start, so that a start nested inside this one takes the next job.
    const int32_t index = nextJob_++;
    if (maxParallel_ > 0) {
        StartJob(index);
        return;
    }
    scheduler_->RunLater(kMainThreadStepDelay,
                         [alive = std::weak_ptr(alive_), generation = generation_, index] {
                             if (const auto self = alive.lock())
                                 (*self)->RunScheduledStart(generation, index);
                         });
}

void TCustomAVConverter::RunScheduledStart(uint64_t generation, int32_t index)
{
    {
        std::lock_guard events(EventLock);
        if (generation != generation_)
            return;
    }
    try {
        StartJob(index);
    } catch (...) {
        // Whatever ended the job (a refused start, or any failure of a run on this thread)
        // was kept as its reason (JobError) and reported by its termination; the main loop
        // that called us has nobody to hand it to, and must not be ended by it.
    }
}

void TCustomAVConverter::StartJob(int32_t index)
{
    TFFmpegHlpr* made = nullptr;
    try {
        made = &jobs_.MakeAtStart(index, [this](TJobSetUp setUp) {
            std::unique_ptr<TFFmpegHlpr> job = MakeJob();
            job->UseLibraryRealVideoDecoders = RealVideo34Codec() == rvFFmpeg;
            job->AddSetUpStep(std::move(setUp), 1, 1);
            ConnectHandlers(*job);
            return job;
        });
    } catch (const std::exception& error) {
        EndUnstartedJob(index, error.what());
        return;
    } catch (...) {
        EndUnstartedJob(index, "unknown failure");
        return;
    }
    TFFmpegHlpr& job = *made;
    job.ReportInterval = int64_t{ProgressInterval()} * 1000;
    job.KeepStoppedOutputs = KeepStoppedOutputs();
    job.SetLogLevel(static_cast<int>(LogLevel()) - 1);
    bool threaded;
    {
        std::lock_guard events(EventLock);
        threaded = maxParallel_ > 0;
    }
    try {
        // A threaded job records its worker's id before the worker runs (WorkerThreadCreated).
        if (!threaded)
            job.ThreadID = CurrentThreadId();
        job.StartTranscode(threaded, ThreadPriority());
    } catch (const std::exception& error) {
        // A job made at its start is never refused (it counts the files it will open), so
        // this is a worker that could not be made: the run goes on without it.
        if (job.MadeAtStart && job.Running) {
            EndUnstartedJob(index, error.what());
            return;
        }
        // A refused start; a failed synchronous run was recorded by its termination.
        std::lock_guard events(EventLock);
        if (job.TranscodeError.empty())
            jobErrors_[index] = error.what();
        throw;
    }
}

void TCustomAVConverter::EndUnstartedJob(int32_t index, const std::string& reason)
{
    std::lock_guard registry(ConverterRegistry().Mutex());
    std::lock_guard events(EventLock);
    jobErrors_[index] = reason;
    RaiseTerminate(index, false);
    ++finishedCount_;
    if (pendingCount_ > 0)
        StartNext();
    else
        ReportEndIfDone();
}

void TCustomAVConverter::Stop()
{
    {
        std::lock_guard events(EventLock);
        pendingCount_ = 0;
        runTakesJobs_ = false;
    }
    jobs_.ForEach([](TFFmpegHlpr& job) { job.RequestStop(); });
}

void TCustomAVConverter::Clear()
{
    {
        std::lock_guard events(EventLock);
        // No job may start while the jobs are being destroyed.
        pendingCount_ = 0;
        maxParallel_ = 0;
        runTakesJobs_ = false;
        ++generation_;
    }
    jobBeingSetUp_ = -1;
    // Not under EventLock: each destruction waits for a worker that may be raising an event.
    jobs_.Clear();
    lastError_.clear();
    std::lock_guard events(EventLock);
    jobErrors_.clear();
    stoppedOutputsKept_.clear();
    partialOutputs_.clear();
    libraryErrors_.clear();
    openFailures_.clear();
    jobWarnings_.clear();
}

void TCustomAVConverter::DispatchLog(uint32_t threadId, int level, const std::string& line)
{
    int jobLevel = level;
    const int32_t index = jobs_.IndexOfThreadID(threadId, &jobLevel);
    // A demuxer tells why it refuses a file only in its log.
    if (index >= 0 && level <= 0) {
        std::lock_guard events(EventLock);
        libraryErrors_[index] = line;
    }
    // The library passes what the most talkative job asks for; this job asked for less.
    if (index >= 0 && level > jobLevel)
        return;
    DoLog(index, level, line);
}

void TCustomAVConverter::DoLog(int32_t index, int level, const std::string& text)
{
    std::lock_guard events(EventLock);
    // A copy: the handler may replace itself.
    if (const auto handler = onLog_)
        (*handler)(index, EventLevel(level), text);
}

void TCustomAVConverter::DoProgress(TFFmpegHlpr& job, int32_t frameNumber, int32_t fps,
                                    int32_t durationTime, float quality, float bitRate,
                                    int64_t currentSize, int32_t totalDuration)
{
    std::lock_guard events(EventLock);
    if (const auto handler = onProgress_)
        (*handler)(job.Index, frameNumber, fps, durationTime, quality, bitRate, currentSize,
                   totalDuration);
}

void TCustomAVConverter::DoTerminate(TFFmpegHlpr& job)
{
    // Before any lock: jobs that ended before this one go, waiting for their workers to
    // leave this function.
    jobs_.ReapRetired();
    std::lock_guard registry(ConverterRegistry().Mutex());
    std::lock_guard events(EventLock);
    // Kept here, so that handlers can ask for it while Clear has the job out of the list.
    if (!job.TranscodeError.empty())
        jobErrors_[job.Index] = job.TranscodeError;
    if (job.StoppedOutputKept)
        stoppedOutputsKept_.insert(job.Index);
    if (!job.KeptPartialOutput.empty())
        partialOutputs_[job.Index] = job.KeptPartialOutput;
    if (job.FailedToOpen)
        openFailures_.insert(job.Index);
    if (job.Finished && !job.TranscodeWarning.empty())
        jobWarnings_[job.Index] = job.TranscodeWarning;
    RaiseTerminate(job.Index, job.Finished);
    ++finishedCount_;
    if (pendingCount_ > 0)
        StartNext();
    else
        ReportEndIfDone();
    // Last: from here on the job may be destroyed by another thread.
    if (job.MadeAtStart)
        jobs_.Retire(job.Index);
}

void TCustomAVConverter::ReportEndIfDone()
{
    // Counted against the run's own jobs, not the list, which Clear empties while jobs still
    // report their end.
    if (runEndReported_ || runTakesJobs_ || runJobCount_ == 0 || finishedCount_ < runJobCount_)
        return;
    runEndReported_ = true;
    RaiseTerminate(-1, true);
    LogItems().Clear();
}

void TCustomAVConverter::RaiseTerminate(int32_t index, bool finished)
{
    // A copy: the handler may replace itself.
    const auto handler = onTerminate_;
    if (!handler)
        return;
    // What escaped the handler would end a worker before the next job starts and the run's
    // end is reported, and nobody would learn why: it is logged, and the run goes on.
    std::string failure;
    try {
        (*handler)(index, finished);
        return;
    } catch (const std::exception& error) {
        failure = error.what();
    } catch (...) {
        failure = "unknown failure";
    }
    try {
        DoLog(index, kLibraryErrorLevel, "The OnTerminate handler failed: " + failure);
    } catch (...) {
        // The log handler failed as well: nobody is left to tell, and the run must go on.
    }
}

void TCustomAVConverter::SetJobFactory(TJobFactory factory)
{
    jobFactory_ = std::move(factory);
}

void TCustomAVConverter::SetMainThreadScheduler(TMainThreadScheduler* scheduler)
{
    scheduler_ = scheduler;
}

void TCustomAVConverter::SetSystemColors(const TSystemColorTable& colors)
{
    systemColors_ = colors;
}

void TCustomAVConverter::SetProgressInterval(int32_t milliseconds)
{
    progressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

TLogEvent TCustomAVConverter::OnLog() const
{
    std::lock_guard events(EventLock);
    return onLog_ ? *onLog_ : TLogEvent{};
}

void TCustomAVConverter::SetOnLog(TLogEvent handler)
{
    auto shared = Shared(std::move(handler));
    std::lock_guard events(EventLock);
    onLog_ = std::move(shared);
}

TProgressEvent TCustomAVConverter::OnProgress() const
{
    std::lock_guard events(EventLock);
    return onProgress_ ? *onProgress_ : TProgressEvent{};
}

void TCustomAVConverter::SetOnProgress(TProgressEvent handler)
{
    auto shared = Shared(std::move(handler));
    std::lock_guard events(EventLock);
    onProgress_ = std::move(shared);
}

TTerminateEvent TCustomAVConverter::OnTerminate() const
{
    std::lock_guard events(EventLock);
    return onTerminate_ ? *onTerminate_ : TTerminateEvent{};
}

void TCustomAVConverter::SetOnTerminate(TTerminateEvent handler)
{
    auto shared = Shared(std::move(handler));
    std::lock_guard events(EventLock);
    onTerminate_ = std::move(shared);
}

TLumoAVConverter::TLumoAVConverter()
{
    Register();
}

TLumoAVConverter::~TLumoAVConverter()
{
    Shutdown();
}

}  // namespace kelvaro
