#include "engine/job.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/logging.h"
#include "engine/media_error.h"
#include "engine/output_tags.h"
#include "engine/text_format.h"
#include "engine/transcode_state.h"
#include "medialib/log_levels.h"
#include "medialib/media_loader.h"

namespace kelvaro {

TCustomFFmpegHlpr::TCustomFFmpegHlpr(std::mutex& lock) : CodecLock(&lock)
{
    LoadDefaults();
}

TCustomFFmpegHlpr::~TCustomFFmpegHlpr()
{
    StopAndWait();
    Cleanup();
    ForgetJobLogLevel(this);
}

void TCustomFFmpegHlpr::StopAndWait()
{
    RequestStop();
    for (int attempt = 0; attempt < 10 && WorkerThread.load(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // A worker still running after a second keeps the job alive until it ends: its
    // resources must never be released under it.
    ReleaseWorker();
}

void TCustomFFmpegHlpr::ReleaseWorker()
{
    // A job restarted from its own end handler releases the worker it runs on: that thread
    // is at its very end, and is joined by the next release made on another thread.
    if (worker_ && worker_->IsCurrentThread()) {
        retiredWorker_.reset();  // an older worker, never this one
        retiredWorker_ = std::move(worker_);
    } else {
        worker_.reset();  // joins
        if (retiredWorker_ && !retiredWorker_->IsCurrentThread())
            retiredWorker_.reset();
    }
    WorkerThread = nullptr;
}

void TCustomFFmpegHlpr::LoadDefaults()
{
    static_cast<TJobState&>(*this) = TJobState{};
    RealVideoFromLibrary = UseLibraryRealVideoDecoders();
    WorkerThread = nullptr;
}

void TCustomFFmpegHlpr::Reset()
{
    if (!MediaLibrariesLoaded())
        return;
    Cleanup();
    LoadDefaults();
    // Every recorded option goes, those private to a codec or muxer too.
    OptionNames.clear();
    PrivateOptions.clear();
    Running = false;
    StopRequested = false;
    TotalDurationMs = -1;
    AllocateDefaultObjects();
}

void TCustomFFmpegHlpr::ReloadDefaults()
{
    Cleanup();
    LoadDefaults();
    AllocateDefaultObjects();
}

void TCustomFFmpegHlpr::AllocateDefaultObjects()
{
    for (int kind = 0; kind < 5; ++kind) {
        DefaultCodecContexts[kind].reset(avcodec.avcodec_alloc_context3(nullptr));
        if (DefaultCodecContexts[kind])
            DefaultCodecContexts[kind]->codec_type = static_cast<AVMediaType>(kind);
    }
    DefaultFormatContext.reset(avformat.avformat_alloc_context());
    // A scaler that only carries scaler options.
    DefaultScalerContext.reset(swscale.sws_alloc_context());
    if (DefaultScalerContext)
        avutil.av_opt_set_int(DefaultScalerContext.get(), "sws_flags", ScalerFlags, 0);
}

void TCustomFFmpegHlpr::ReleaseFiles()
{
    Cleanup();
}

namespace {

void DeleteIfEmpty(const char* fileName)
{
    if (!fileName || !*fileName)
        return;
    std::error_code error;
    const std::filesystem::path path(fileName);
    if (std::filesystem::is_regular_file(path, error) &&
        std::filesystem::file_size(path, error) == 0 && !error)
        std::filesystem::remove(path, error);
}

}  // namespace

void TCustomFFmpegHlpr::Cleanup()
{
    if (!MediaLibrariesLoaded())
        return;
    for (CodecContextPtr& context : DefaultCodecContexts)
        context.reset();
    DefaultFormatContext.reset();
    DefaultScalerContext.reset();

    for (int i = 0; i < OutputFileCount; ++i) {
        TOutputFile& output = OutputFiles[i];
        AVFormatContext* context = output.Context.get();
        if (context && !(context->oformat->flags & AVFMT_NOFILE) && context->pb)
            avformat.avio_closep(&context->pb);
        output.Streams.clear();
        // A temporary file not committed goes; the final name was never touched.
        if (output.Temporary)
            output.Temporary.reset();
        else if (context)
            DeleteIfEmpty(context->url);
        output.Context.reset();
        output.MuxerOptions.Reset();
    }
    OutputFileCount = 0;

    // Codecs a transcode left open (Run closes them before this) go with their contexts.
    OpenedEncoders.clear();
    OpenedDecoders.clear();
    for (int i = 0; i < InputFileCount; ++i) {
        InputFiles[i].Decoders.clear();
        InputFiles[i].DecoderChoices.clear();
        InputFiles[i].Context.reset();
    }
    InputFileCount = 0;

    IntraMatrix.reset();
    InterMatrix.reset();
    VideoStatsFile.reset();
    VideoStatsFileName.clear();
    OptionNames.clear();
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
    VideoStandard.clear();
    RcOverride.clear();
    AudioLanguage.clear();
    SubtitleLanguage.clear();
}

uint32_t TCustomFFmpegHlpr::StartTranscode(bool threaded, TConvertPriority priority)
{
    if (Running || StopRequested)
        return 0;
    // The refusal is known to the termination handler, which runs before it is raised.
    const char* refusal = OutputsToRun() <= 0  ? "Must supply at least one output file"
                          : InputsToRun() == 0 ? "Must supply at least one input file"
                                               : nullptr;
    if (refusal) {
        TranscodeError = refusal;
        Cleanup();
        Finish();
        throw FFMpegException(refusal);
    }
    Running = true;
    if (!threaded) {
        Run();
        return CurrentThreadId();
    }
    ReleaseWorker();  // a thread of an earlier run has ended; join it before starting anew
    worker_ = std::make_unique<TFFmpegThread>(*this);
    WorkerThread = worker_.get();
    worker_->SetPriority(priority);
    const uint32_t threadId = worker_->ThreadId();
    WorkerThreadCreated(threadId);
    worker_->Resume();
    return threadId;
}

void TCustomFFmpegHlpr::RequestStop()
{
    // The worker never waits suspended once started, so there is nothing to resume.
    StopRequested = true;
}

void TCustomFFmpegHlpr::Run()
{
    Finished = false;
    StoppedOutputKept = false;
    KeptPartialOutput.clear();
    InputEndedEarly = false;
    TranscodeError.clear();
    std::exception_ptr failure;
    try {
        OpenFilesToRun();
        Transcode();
        CommitOutputs();
    } catch (const std::exception& error) {
        failure = std::current_exception();
        TranscodeError = error.what();
    } catch (...) {
        failure = std::current_exception();
        TranscodeError = "unknown failure";
    }
    // What the stop itself cut off (a wait for input, a write that waits) is a stopped job,
    // not a failed one; the library's text stays in the log.
    if (failure && StopRequested &&
        TranscodeError.find(ErrorReason(AVERROR_EXIT)) != std::string::npos) {
        Log(0, TranscodeError);
        TranscodeError.clear();
        failure = nullptr;
    }
    if (failure) {
        Finished = false;
        Log(0, TranscodeError);
    }
    CloseOpenedCodecs();
    Cleanup();
    Finish();
    if (failure)
        std::rethrow_exception(failure);
}

void TCustomFFmpegHlpr::CommitOutputs()
{
    const bool stopped = !Finished;
    for (int i = 0; i < OutputFileCount; ++i) {
        TOutputFile& output = OutputFiles[i];
        AVFormatContext* context = output.Context.get();
        if (!context || !output.Temporary)
            continue;
        const std::string& name = output.Temporary->FinalName();
        if (context->pb) {
            // Closing drops a failed flush's error; it is read first.
            avformat.avio_flush(context->pb);
            int result = context->pb->error;
            const int closed = avformat.avio_closep(&context->pb);
            if (result >= 0)
                result = closed;
            if (result < 0)
                throw FFMpegException(
                    Format("Could not write '%s': %s", name.c_str(), ErrorReason(result).c_str()));
        }
        if (stopped ? !output.WroteMedia : output.Temporary->IsEmpty())
            continue;  // Cleanup removes it
        CarryInputTags(i);
        // A complete file is replaced only by a complete one.
        std::error_code error;
        const bool replacesEarlier = InputEndedEarly && std::filesystem::exists(name, error);
        std::string reason;
        if (stopped || replacesEarlier) {
            const std::string partial = PartialOutputName(name);
            const bool kept = KeepStoppedOutputs;
            if (kept && !output.Temporary->CommitAsPartial(reason))
                throw FFMpegException(
                    Format("Could not save '%s': %s", partial.c_str(), reason.c_str()));
            if (kept && KeptPartialOutput.empty())
                KeptPartialOutput = partial;
            StoppedOutputKept = StoppedOutputKept || (kept && stopped);
            if (replacesEarlier)
                TranscodeWarning +=
                    kept ? Format("; kept as %s beside the earlier file", partial.c_str())
                         : Format("; not saved: the earlier %s stays", name.c_str());
            continue;
        }
        if (!output.Temporary->Commit(reason))
            throw FFMpegException(Format("Could not save '%s': %s", name.c_str(), reason.c_str()));
    }
}

void TCustomFFmpegHlpr::CarryInputTags(int outputIndex)
{
    const AVFormatContext* output = OutputFiles[outputIndex].Context.get();
    for (int i = 0; i < TagCopyMapCount; ++i) {
        const TTagCopyMap& map = TagCopyMaps[i];
        if (map.OutputFile != outputIndex || map.InputFile < 0 || map.InputFile >= InputFileCount ||
            !InputFiles[map.InputFile].Context)
            continue;
        for (const std::string& warning :
             CarryTags(*InputFiles[map.InputFile].Context,
                       OutputFiles[outputIndex].Temporary->TemporaryName(), output->oformat->name))
            TranscodeWarning += (TranscodeWarning.empty() ? "" : "; ") + warning;
        return;
    }
}

void TCustomFFmpegHlpr::CloseOpenedCodecs()
{
    for (CodecContextPtr* encoder : OpenedEncoders) {
        std::lock_guard lock(*CodecLock);
        encoder->reset();
    }
    OpenedEncoders.clear();
    for (std::unique_ptr<TDecoder>& decoder : OpenedDecoders) {
        std::lock_guard lock(*CodecLock);
        decoder->Close();
        decoder.reset();
    }
    OpenedDecoders.clear();
    for (const auto& input : InputStreams)
        input->OpenedDecoder = nullptr;
}

void TCustomFFmpegHlpr::Finish()
{
    Running = false;
    StopRequested = true;
    WorkerThread = nullptr;
    if (TerminateHandler)
        TerminateHandler(*this);
}

void TCustomFFmpegHlpr::WorkerThreadCreated(uint32_t) {}

void TCustomFFmpegHlpr::SetLogLevel(int level)
{
    JobLogLevel = level;
    ShareJobLogLevel(this, level);
}

void TCustomFFmpegHlpr::Log(int level, const std::string& text)
{
    if (LogHandler)
        LogHandler(*this, level, text);
}

}  // namespace kelvaro
