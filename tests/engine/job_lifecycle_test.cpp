#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/job.h"
#include "engine/logging.h"
#include "fixtures/media_fixtures.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A job whose transcode is whatever the test says.
class ScriptedJob final : public TCustomFFmpegHlpr {
public:
    explicit ScriptedJob(std::mutex& lock) : TCustomFFmpegHlpr(lock)
    {
        Reset();
        // The lifecycle only counts files; none is opened here.
        InputFileCount = 1;
        OutputFileCount = 1;
        TerminateHandler = [this](TCustomFFmpegHlpr&) {
            ++terminations;
            finishedAtTermination = Finished.load();
        };
    }
    ~ScriptedJob() override { StopAndWait(); }

    std::function<void(ScriptedJob&)> body;
    std::atomic<int> terminations{0};
    std::atomic<bool> finishedAtTermination{false};
    std::atomic<uint32_t> createdThreadId{0};
    std::atomic<uint32_t> ranOnThreadId{0};

protected:
    void Transcode() override
    {
        ranOnThreadId = CurrentThreadId();
        if (body)
            body(*this);
        Finished = !StopRequested;
    }
    void WorkerThreadCreated(uint32_t threadId) override { createdThreadId = threadId; }
};

void WaitUntil(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
}

class JobLifecycle : public ::testing::Test {
protected:
    void SetUp() override { test::LoadMediaLibrariesForTest(); }
    std::mutex codecLock_;
};

TEST_F(JobLifecycle, OutputIsRequiredBeforeInputAndTheEndIsReportedFirst)
{
    ScriptedJob job(codecLock_);
    job.InputFileCount = 0;
    job.OutputFileCount = 0;
    int terminationsBeforeException = -1;
    std::string errorAtTermination;
    job.TerminateHandler = [&](TCustomFFmpegHlpr& sender) {
        ++job.terminations;
        errorAtTermination = sender.TranscodeError;
    };
    try {
        job.StartTranscode(false, tpNormal);
        FAIL() << "no exception";
    } catch (const FFMpegException& error) {
        terminationsBeforeException = job.terminations;
        EXPECT_STREQ(error.what(), "Must supply at least one output file");
    }
    EXPECT_EQ(terminationsBeforeException, 1);
    EXPECT_EQ(errorAtTermination, "Must supply at least one output file");
    EXPECT_FALSE(job.Running);
    EXPECT_TRUE(job.StopRequested);

    ScriptedJob withOutput(codecLock_);
    withOutput.InputFileCount = 0;
    EXPECT_THROW(
        {
            try {
                withOutput.StartTranscode(true, tpNormal);
            } catch (const FFMpegException& error) {
                EXPECT_STREQ(error.what(), "Must supply at least one input file");
                throw;
            }
        },
        FFMpegException);
    EXPECT_EQ(withOutput.terminations, 1);
}

TEST_F(JobLifecycle, ThreadedRunReportsItsEndOnceFromItsOwnThread)
{
    ScriptedJob job(codecLock_);
    const uint32_t threadId = job.StartTranscode(true, tpNormal);
    EXPECT_NE(threadId, 0u);
    EXPECT_NE(threadId, CurrentThreadId());
    WaitUntil([&] { return job.terminations > 0; });
    EXPECT_EQ(job.terminations, 1);
    EXPECT_TRUE(job.finishedAtTermination);
    EXPECT_EQ(job.createdThreadId, threadId) << "the id is known before the worker runs";
    EXPECT_EQ(job.ranOnThreadId, threadId);
    EXPECT_FALSE(job.Running);
}

TEST_F(JobLifecycle, SynchronousRunHappensOnTheCallingThread)
{
    ScriptedJob job(codecLock_);
    EXPECT_EQ(job.StartTranscode(false, tpNormal), CurrentThreadId());
    EXPECT_EQ(job.ranOnThreadId, CurrentThreadId());
    EXPECT_EQ(job.terminations, 1);
    EXPECT_EQ(job.createdThreadId, 0u);
}

TEST_F(JobLifecycle, AJobRunsAtMostOnceBetweenResets)
{
    ScriptedJob job(codecLock_);
    job.StartTranscode(false, tpNormal);
    EXPECT_EQ(job.StartTranscode(false, tpNormal), 0u);
    EXPECT_EQ(job.StartTranscode(true, tpNormal), 0u);
    EXPECT_EQ(job.terminations, 1);

    job.Reset();
    job.InputFileCount = 1;
    job.OutputFileCount = 1;
    EXPECT_NE(job.StartTranscode(true, tpNormal), 0u);
    WaitUntil([&] { return job.terminations == 2; });
    EXPECT_EQ(job.terminations, 2);
}

TEST_F(JobLifecycle, AJobRestartedFromItsOwnEndJoinsEveryWorker)
{
    ScriptedJob job(codecLock_);
    job.TerminateHandler = [&](TCustomFFmpegHlpr& self) {
        if (++job.terminations < 3) {
            self.Reset();
            self.InputFileCount = 1;
            self.OutputFileCount = 1;
            self.StartTranscode(true, tpNormal);
        }
    };
    job.StartTranscode(true, tpNormal);
    WaitUntil([&] { return job.terminations == 3; });
    job.StopAndWait();
    EXPECT_EQ(job.terminations, 3);
}

TEST_F(JobLifecycle, StopRequestedBeforeStartPreventsTheRun)
{
    ScriptedJob job(codecLock_);
    job.RequestStop();
    EXPECT_TRUE(job.StopRequested);
    EXPECT_EQ(job.StartTranscode(true, tpNormal), 0u);
    EXPECT_EQ(job.terminations, 0) << "nothing ran, nothing is reported";
}

TEST_F(JobLifecycle, StopRequestEndsARunWithoutFinishing)
{
    ScriptedJob job(codecLock_);
    job.body = [](ScriptedJob& self) { WaitUntil([&] { return self.StopRequested.load(); }); };
    job.StartTranscode(true, tpNormal);
    job.RequestStop();
    WaitUntil([&] { return job.terminations > 0; });
    EXPECT_FALSE(job.finishedAtTermination);
}

TEST_F(JobLifecycle, FailureInTheWorkerIsRecordedLoggedAndReportedAsNotFinished)
{
    ScriptedJob job(codecLock_);
    std::vector<std::pair<int, std::string>> lines;
    job.LogHandler = [&](TCustomFFmpegHlpr&, int level, const std::string& text) {
        lines.emplace_back(level, text);
    };
    job.body = [](ScriptedJob&) { throw FFMpegException("Output file does not contain any stream"); };
    job.StartTranscode(true, tpNormal);
    WaitUntil([&] { return job.terminations > 0; });
    job.StopAndWait();
    EXPECT_FALSE(job.finishedAtTermination);
    EXPECT_EQ(job.TranscodeError, "Output file does not contain any stream");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, 0);
    EXPECT_EQ(lines[0].second, "Output file does not contain any stream");

    // A synchronous start hands the failure to its caller, after the end was reported.
    ScriptedJob synchronous(codecLock_);
    synchronous.body = job.body;
    EXPECT_THROW(synchronous.StartTranscode(false, tpNormal), FFMpegException);
    EXPECT_EQ(synchronous.terminations, 1);
}

TEST_F(JobLifecycle, DestroyingARunningJobWaitsForItsWorker)
{
    std::atomic<bool> transcodeReturned{false};
    const auto start = std::chrono::steady_clock::now();
    {
        ScriptedJob job(codecLock_);
        // Ignores the stop request for longer than the destructor's first second of waiting.
        job.body = [&](ScriptedJob&) {
            std::this_thread::sleep_for(1500ms);
            transcodeReturned = true;
        };
        job.StartTranscode(true, tpNormal);
    }
    EXPECT_TRUE(transcodeReturned) << "the job was released under its worker";
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);
}

TEST_F(JobLifecycle, WorkerPriorityFollowsTheRequest)
{
    ScriptedJob idle(codecLock_);
    std::atomic<int> policy{-1};
    idle.body = [&](ScriptedJob&) { policy = sched_getscheduler(0); };
    idle.StartTranscode(true, tpIdle);
    WaitUntil([&] { return idle.terminations > 0; });
    EXPECT_EQ(policy, SCHED_IDLE);

    ScriptedJob lower(codecLock_);
    std::atomic<int> nice{-100};
    lower.body = [&](ScriptedJob&) { nice = getpriority(PRIO_PROCESS, CurrentThreadId()); };
    lower.StartTranscode(true, tpLower);
    WaitUntil([&] { return lower.terminations > 0; });
    EXPECT_EQ(nice, getpriority(PRIO_PROCESS, CurrentThreadId()) + 5);

    // A job started from the end of another, on its worker, as the converter starts the next
    // one: the same nice value, not a second lowering.
    ScriptedJob next(codecLock_);
    std::atomic<int> nextNice{-100};
    next.body = [&](ScriptedJob&) { nextNice = getpriority(PRIO_PROCESS, CurrentThreadId()); };
    ScriptedJob first(codecLock_);
    first.TerminateHandler = [&](TCustomFFmpegHlpr&) { next.StartTranscode(true, tpLower); };
    first.StartTranscode(true, tpLower);
    WaitUntil([&] { return next.terminations > 0; });
    EXPECT_EQ(nextNice, getpriority(PRIO_PROCESS, CurrentThreadId()) + 5);
}

// An output context over `path` as the job would hold it; `open` creates the file.
OutputContextPtr OutputOver(const std::string& path, bool open)
{
    AVFormatContext* context = nullptr;
    avformat.avformat_alloc_output_context2(&context, nullptr, "wav", path.c_str());
    if (open)
        avformat.avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    return OutputContextPtr(context);
}

TEST_F(JobLifecycle, CleanupDeletesOutputsThatStayedEmptyAndOnlyThose)
{
    fixtures::TempDir folder;
    const std::string empty = folder.File("empty.wav");
    const std::string oneByte = folder.File("one.wav");
    const std::string missing = folder.File("missing.wav");
    std::ofstream(oneByte) << 'x';

    ScriptedJob job(codecLock_);
    job.OutputFileCount = 3;
    job.OutputFiles[0].Context = OutputOver(empty, true);
    job.OutputFiles[1].Context = OutputOver(oneByte, false);
    job.OutputFiles[2].Context = OutputOver(missing, false);
    ASSERT_TRUE(fs::exists(empty));
    job.StartTranscode(false, tpNormal);

    EXPECT_FALSE(fs::exists(empty));
    EXPECT_TRUE(fs::exists(oneByte));
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_EQ(job.OutputFileCount, 0);
    EXPECT_EQ(job.OutputFiles[0].Context, nullptr);
}

TEST_F(JobLifecycle, ResetRestoresDefaultsAndCreatesTheOptionHolders)
{
    ScriptedJob job(codecLock_);
    job.AudioSampleRate = 8000;
    job.FramePixelFormat = 3;
    job.VideoCodecName = "mpeg4";
    job.ReportInterval = 1000;
    job.Reset();
    EXPECT_EQ(job.AudioSampleRate, 44100);
    EXPECT_EQ(job.AudioChannels, 2);
    EXPECT_EQ(job.FramePixelFormat, -1);
    EXPECT_EQ(job.VideoCodecName, "");
    EXPECT_EQ(job.PadColorY, 16);
    EXPECT_EQ(job.MaxFrames[3], INT32_MAX);
    EXPECT_EQ(job.EncodeBufferSize, 262144);
    EXPECT_EQ(job.TotalDurationMs, -1);
    EXPECT_FLOAT_EQ(job.AudioQScale, -99999.0f);
    EXPECT_EQ(job.ReportInterval, 1000) << "the converter's interval survives a reset";
    for (int kind = 0; kind < 5; ++kind) {
        ASSERT_NE(job.DefaultCodecContexts[kind], nullptr);
        EXPECT_EQ(job.DefaultCodecContexts[kind]->codec_type, kind);
    }
    EXPECT_NE(job.DefaultFormatContext, nullptr);
    EXPECT_NE(job.DefaultScalerContext, nullptr);
}

}  // namespace
}  // namespace kelvaro
