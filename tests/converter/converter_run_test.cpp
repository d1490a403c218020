#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "converter/conversion_rule.h"
#include "medialib/realvideo_standin.h"
#include "scripted_converter.h"
#include "support/test_support.h"

namespace kelvaro::test {
namespace {

using namespace std::chrono_literals;

using ConverterRun = ScriptedConverterTest;

TEST_F(ConverterRun, ProgressIntervalHasAFloorOf100AndReachesTheJobInMicroseconds)
{
    EXPECT_EQ(converter_->ProgressInterval(), 500);
    for (int32_t low : {0, 50, 100, -5}) {
        converter_->SetProgressInterval(low);
        EXPECT_EQ(converter_->ProgressInterval(), 100) << low;
    }
    converter_->SetProgressInterval(101);
    EXPECT_EQ(converter_->ProgressInterval(), 101);

    converter_->SetProgressInterval(500);
    converter_->SetLogLevel(llDebug);
    AddJob();
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForEnd());
    EXPECT_EQ(Job(0).reportIntervalAtRun, 500000);
    EXPECT_EQ(Job(0).logLevelAtRun, 2) << "llDebug on the library scale";
}

TEST_F(ConverterRun, OneAtATimeEachJobStartsFromThePreviousTermination)
{
    AddJob();
    AddJob();
    AddJob();
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForEnd()) << recorder_.Sequence();
    EXPECT_EQ(recorder_.Sequence(), "run0 term0+ run1 term1+ run2 term2+ end");

    const RunEvent run0 = recorder_.Find("run", 0);
    EXPECT_NE(run0.thread, mainThread_);
    EXPECT_EQ(Job(0).startedFrom, mainThread_);
    EXPECT_EQ(Job(0).ThreadID, run0.thread);
    for (int32_t index = 0; index < 3; ++index) {
        const RunEvent run = recorder_.Find("run", index);
        EXPECT_EQ(recorder_.Find("term", index).thread, run.thread) << "on the job's own thread";
        if (index > 0) {
            EXPECT_EQ(Job(index).startedFrom, recorder_.Find("run", index - 1).thread)
                << "started by the termination of the job before it";
        }
    }
    EXPECT_EQ(recorder_.Find("end", -1).thread, recorder_.Find("run", 2).thread);
}

TEST_F(ConverterRun, TwoAtATimeTheThirdStartsFromTheFirstToEnd)
{
    std::atomic<bool> gate{false};
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    const auto counted = [&](JobScript script) {
        return [&, script](ScriptedJob& job) {
            const int now = ++running;
            int most = mostRunning;
            while (now > most && !mostRunning.compare_exchange_weak(most, now)) {
            }
            if (script)
                script(job);
            --running;
        };
    };
    AddJob(counted(WaitForGateOrStop(gate)));
    AddJob(counted({}));
    AddJob(counted({}));
    converter_->Start(2);
    EXPECT_EQ(Job(0).startedFrom, mainThread_);
    EXPECT_EQ(Job(1).startedFrom, mainThread_);
    ASSERT_TRUE(recorder_.WaitFor([](const std::vector<RunEvent>& events) {
        for (const RunEvent& event : events)
            if (event.kind == "term" && event.index == 2)
                return true;
        return false;
    }));
    EXPECT_EQ(Job(2).startedFrom, recorder_.Find("run", 1).thread);
    EXPECT_EQ(recorder_.Count("end"), 0) << "job 0 still runs";

    gate = true;
    ASSERT_TRUE(recorder_.WaitForEnd());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder_.Count("end"), 1);
    EXPECT_EQ(recorder_.Events().back().kind, "end");
    EXPECT_EQ(recorder_.Find("end", -1).thread, recorder_.Find("run", 0).thread);
    EXPECT_LE(mostRunning, 2);
}

TEST_F(ConverterRun, EndOfRunIsReportedOnceWhenJobsEndTogether)
{
    for (int round = 0; round < 20; ++round) {
        converter_->Clear();
        jobs_.clear();
        RunRecorder recorder;
        converter_->SetOnTerminate([&](int32_t index, bool finished) {
            recorder.Add({index < 0 ? "end" : "term", index, finished, CurrentThreadId()});
        });
        AddJob();
        AddJob();
        AddJob();
        converter_->Start(3);
        ASSERT_TRUE(recorder.WaitForEnd());
        converter_->Clear();  // waits for every worker
        EXPECT_EQ(recorder.Count("term"), 3);
        ASSERT_EQ(recorder.Count("end"), 1) << "round " << round << ": " << recorder.Sequence();
    }
}

TEST_F(ConverterRun, OnTheMainThreadEachJobRuns100MillisecondsAfterThePreviousStep)
{
    TDelayedTaskQueue::Clock::time_point now{};
    TDelayedTaskQueue queue([&] { return now; });
    converter_->SetMainThreadScheduler(&queue);
    AddJob();
    AddJob();
    AddJob();
    converter_->Start(0);
    EXPECT_EQ(recorder_.Sequence(), "") << "Start returns before any job runs";

    const auto advance = [&](std::chrono::milliseconds step) {
        now += step;
        queue.RunDue();
        return recorder_.Sequence();
    };
    EXPECT_EQ(advance(99ms), "");
    EXPECT_EQ(advance(1ms), "run0 term0+");
    EXPECT_EQ(advance(99ms), "run0 term0+");
    EXPECT_EQ(advance(1ms), "run0 term0+ run1 term1+");
    EXPECT_EQ(advance(100ms), "run0 term0+ run1 term1+ run2 term2+ end");
    EXPECT_EQ(queue.Pending(), 0u);
    for (const RunEvent& event : recorder_.Events())
        EXPECT_EQ(event.thread, mainThread_) << event.kind << event.index;
    EXPECT_EQ(Job(1).ThreadID, mainThread_);
}

TEST_F(ConverterRun, OnTheMainThreadAnyFailureOfAJobStaysWithItAndTheRunGoesOn)
{
    TDelayedTaskQueue::Clock::time_point now{};
    TDelayedTaskQueue queue([&] { return now; });
    converter_->SetMainThreadScheduler(&queue);
    AddJob([](ScriptedJob&) { throw std::runtime_error("not a library failure"); });
    AddJob();
    converter_->Start(0);
    for (int step = 0; step < 2; ++step) {
        now += 100ms;
        // The scheduler belongs to the application's loop: nothing may reach it.
        EXPECT_NO_THROW(queue.RunDue()) << "step " << step;
    }
    EXPECT_EQ(recorder_.Sequence(), "run0 term0- run1 term1+ end");
    EXPECT_EQ(converter_->JobError(0), "not a library failure");
}

TEST_F(ConverterRun, ClearDropsAStartScheduledBeforeIt)
{
    TDelayedTaskQueue::Clock::time_point now{};
    TDelayedTaskQueue queue([&] { return now; });
    converter_->SetMainThreadScheduler(&queue);
    AddJob();
    converter_->Start(0);
    converter_->Clear();
    jobs_.clear();
    AddJob();
    now += 100ms;
    queue.RunDue();
    EXPECT_EQ(recorder_.Sequence(), "") << "the new job 0 belongs to no run yet";
}

TEST_F(ConverterRun, StartWithNoJobsRaisesNothing)
{
    converter_->Start(1);
    converter_->Start(0);  // needs no scheduler when there is nothing to run
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(recorder_.Events().empty());
}

TEST_F(ConverterRun, StartOnTheMainThreadWithoutASchedulerIsRefused)
{
    AddJob();
    EXPECT_THROW(converter_->Start(0), std::logic_error);
    EXPECT_TRUE(recorder_.Events().empty());
}

TEST_F(ConverterRun, FirstJobWithoutOutputEndsTheNextStartsThenStartRaises)
{
    AddJob({}, false);
    AddJob();
    AddJob();
    std::string sequenceAtError;
    try {
        converter_->Start(1);
        ADD_FAILURE() << "Start raised nothing";
    } catch (const FFMpegException& error) {
        sequenceAtError = recorder_.Sequence();
        EXPECT_STREQ(error.what(), "Must supply at least one output file");
        EXPECT_EQ(Job(1).startedFrom, mainThread_) << "job 1 was started before the error";
    }
    EXPECT_EQ(sequenceAtError.substr(0, 6), "term0-");
    EXPECT_EQ(recorder_.Find("term", 0).thread, mainThread_);
    ASSERT_TRUE(recorder_.WaitForEnd());
    EXPECT_EQ(recorder_.Sequence(), "term0- run1 term1+ run2 term2+ end");
    EXPECT_EQ(converter_->JobError(0), "Must supply at least one output file");
    EXPECT_EQ(converter_->JobError(1), "");
}

TEST_F(ConverterRun, ARunThatTakesJobsStartsEachAtOnceAndEndsOnceTheyAreAll)
{
    const auto addJob = [this](JobScript script) {
        nextScript_ = std::move(script);
        return converter_->AddJob(
            input_, ConversionSetUp(input_, TTargetFormat::Wav, dir_.File("taken.wav")));
    };
    std::atomic<bool> gate{false};
    converter_->BeginRun(1);
    EXPECT_EQ(addJob(WaitForGateOrStop(gate)), 0);
    // Running before the next file is even listed.
    ASSERT_TRUE(recorder_.WaitForSequence("run0"));
    EXPECT_EQ(addJob({}), 1);
    EXPECT_EQ(converter_->AddInputFile(input_), -1) << "such a run takes jobs from AddJob only";
    gate = true;
    ASSERT_TRUE(recorder_.WaitForSequence("run0 term0+ run1 term1+"));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder_.Count("end"), 0) << "more jobs may still come";
    converter_->EndOfJobs();
    EXPECT_EQ(recorder_.Sequence(), "run0 term0+ run1 term1+ end");
    EXPECT_EQ(recorder_.Find("end", -1).thread, mainThread_) << "every job had ended";
    converter_->EndOfJobs();
    EXPECT_EQ(recorder_.Count("end"), 1);

    // Jobs made at their start are released once they end; what they were stays known.
    EXPECT_EQ(converter_->InputContext(1).FileName, input_);
    EXPECT_THROW(converter_->SetOutputFile(5, "x.wav"), std::out_of_range);
    EXPECT_FALSE(converter_->SetOutputFile(1, "x.wav"));

    // A run that got no job reports no end, as Start's does.
    converter_->Clear();
    converter_->BeginRun(1);
    converter_->EndOfJobs();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder_.Count("end"), 1);
}

TEST_F(ConverterRun, JobWithoutOutputReachedLaterEndsAndTheRunGoesOn)
{
    AddJob();
    AddJob({}, false);
    AddJob();
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForEnd());
    EXPECT_EQ(recorder_.Sequence(), "run0 term0+ term1- run2 term2+ end");
    EXPECT_EQ(converter_->JobError(1), "Must supply at least one output file");
}

TEST_F(ConverterRun, AFailingTranscodeIsReportedWithItsReasonAndTheRunGoesOn)
{
    RunRecorder logs;
    converter_->SetOnLog([&](int32_t index, TLogLevel level, const std::string& text) {
        logs.Add({"log", index, false, CurrentThreadId(), level, text});
    });
    AddJob();
    AddJob(Fail("scripted failure"));
    AddJob([](ScriptedJob& job) { job.TranscodeWarning = "12 decoding errors"; });
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForEnd());
    EXPECT_EQ(recorder_.Sequence(), "run0 term0+ run1 term1- run2 term2+ end");
    EXPECT_EQ(converter_->JobError(1), "scripted failure");
    EXPECT_EQ(converter_->JobWarning(0), "");
    EXPECT_EQ(converter_->JobWarning(2), "12 decoding errors") << "finished, with a warning";
    EXPECT_EQ(converter_->JobError(2), "");
    const RunEvent line = logs.Find("log", 1);
    EXPECT_EQ(line.level, llError);
    EXPECT_EQ(line.text, "scripted failure");
}

TEST_F(ConverterRun, ATerminationHandlerThatThrowsIsLoggedAndTheRunGoesOn)
{
    RunRecorder logs;
    converter_->SetOnLog([&](int32_t index, TLogLevel level, const std::string& text) {
        logs.Add({"log", index, false, CurrentThreadId(), level, text});
    });
    converter_->SetOnTerminate([this](int32_t index, bool finished) {
        recorder_.Add({index < 0 ? "end" : "term", index, finished, CurrentThreadId()});
        if (index == 0)
            throw std::runtime_error("handler trouble");
        if (index < 0)
            throw 42;
    });
    AddJob();
    AddJob();
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForEnd()) << recorder_.Sequence();
    converter_->Clear();  // waits for the worker that raised the end
    EXPECT_EQ(recorder_.Sequence(), "run0 term0+ run1 term1+ end");
    std::vector<std::string> failures;
    for (const RunEvent& line : logs.Events()) {
        if (line.text.rfind("The OnTerminate handler", 0) == 0) {
            EXPECT_EQ(line.level, llError);
            failures.push_back(std::to_string(line.index) + " " + line.text);
        }
    }
    EXPECT_EQ(failures,
              (std::vector<std::string>{"0 The OnTerminate handler failed: handler trouble",
                                        "-1 The OnTerminate handler failed: unknown failure"}));
}

TEST_F(ConverterRun, StopDuringTheSecondOfThreeEndsItAndStartsNoMore)
{
    AddJob();
    AddJob(WaitForStop);
    AddJob();
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForSequence("run0 term0+ run1"));
    converter_->Stop();
    ASSERT_TRUE(recorder_.WaitForSequence("run0 term0+ run1 term1-"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder_.Sequence(), "run0 term0+ run1 term1-") << "no job 2, no end of run";
    EXPECT_EQ(converter_->JobError(1), "") << "stopped, not failed";
}

TEST_F(ConverterRun, ClearDuringARunStopsTheJobAndStartsNoOther)
{
    AddJob(WaitForStop);
    AddJob();
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForSequence("run0"));
    converter_->Clear();
    EXPECT_EQ(recorder_.Sequence(), "run0 term0-") << "Clear waited for job 0's end";
    EXPECT_EQ(converter_->JobCount(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder_.Sequence(), "run0 term0-");
}

TEST_F(ConverterRun, TheFailureIsKnownInsideTheTerminationAlsoDuringClear)
{
    std::string errorSeen = "none";
    converter_->SetOnTerminate([&](int32_t index, bool) {
        if (index == 0)
            errorSeen = converter_->JobError(index);
    });
    AddJob([](ScriptedJob& job) {
        WaitForStop(job);
        throw FFMpegException("failed while stopping");
    });
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForSequence("run0"));
    converter_->Clear();
    EXPECT_EQ(errorSeen, "failed while stopping");
    EXPECT_EQ(converter_->JobError(0), "") << "Clear forgets the jobs";
}

TEST_F(ConverterRun, DestroyingTheComponentStopsAndWaitsForItsJobs)
{
    AddJob(WaitForStop);
    AddJob();
    converter_->Start(2);
    ASSERT_TRUE(recorder_.WaitFor([](const std::vector<RunEvent>& events) {
        return events.size() >= 3;  // run0, run1, term1 in some order
    }));
    converter_.reset();
    EXPECT_EQ(recorder_.Count("term"), 2);
    EXPECT_EQ(recorder_.Count("end"), 1) << "both jobs of the run ended";
}

TEST_F(ConverterRun, AJobRunsOnlyOnceSoASecondStartReportsNothing)
{
    AddJob();
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForEnd());
    converter_->Start(1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder_.Sequence(), "run0 term0+ end");
}

TEST_F(ConverterRun, AddInputFileOfAMissingFileAddsNoJob)
{
    EXPECT_EQ(converter_->AddInputFile(dir_.File("missing.mp3")), -1);
    EXPECT_EQ(converter_->LastError(), dir_.File("missing.mp3") + ": no such file or directory");
    EXPECT_EQ(converter_->JobCount(), 0);
    EXPECT_EQ(AddJob(), 0) << "the next free index";

    TInputOptions options;
    options.FormatName = "nosuchdemuxer";
    EXPECT_EQ(converter_->AddInputFile(input_, &options), -1);
    EXPECT_EQ(converter_->LastError(), "Unknown input format: nosuchdemuxer");
    EXPECT_EQ(converter_->JobCount(), 1);
    converter_->Clear();
    EXPECT_EQ(converter_->LastError(), "");
}

TEST_F(ConverterRun, SetOutputFileReportsRejectedSettingsAndUnwritableFiles)
{
    const int32_t index = AddJob({}, false);
    TOutputOptions options;
    options.FormatName = "nosuchformat";
    EXPECT_FALSE(converter_->SetOutputFile(index, dir_.File("a.wav"), &options));
    EXPECT_EQ(converter_->LastError(), "Unknown output format: nosuchformat");

    EXPECT_FALSE(converter_->SetOutputFile(index, dir_.File("no/such/folder/a.wav")));
    EXPECT_NE(converter_->LastError().find("no/such/folder/a.wav"), std::string::npos)
        << converter_->LastError();

    EXPECT_THROW(converter_->SetOutputFile(5, dir_.File("a.wav")), std::out_of_range);
    EXPECT_THROW(converter_->InputContext(-1), std::out_of_range);
    EXPECT_EQ(converter_->InputContext(index).FileName, input_);
    EXPECT_GT(converter_->InputContext(index).Duration, 0);
}

}  // namespace
}  // namespace kelvaro::test

namespace kelvaro::test {
namespace {

// Real jobs: the component's own, with the engine's transcode.
TEST(ConverterRealRun, ClearWhileConvertingEndsTheJobWithACompleteOutput)
{
    LoadMediaLibrariesForTest();
    fixtures::TempDir dir;
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 300;
    const std::string input = fixtures::MakeWav(dir.File("long.wav"), audioSpec);
    RunRecorder recorder;
    TLumoAVConverter converter;
    ASSERT_TRUE(converter.LoadLibraries("", true));
    converter.SetProgressInterval(100);
    converter.SetOnProgress(
        [&](int32_t index, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
            recorder.Add({"progress", index, false, 0});
        });
    converter.SetOnTerminate([&](int32_t index, bool finished) {
        recorder.Add({index < 0 ? "end" : "term", index, finished, CurrentThreadId()});
    });
    ASSERT_EQ(converter.AddInputFile(input), 0) << converter.LastError();
    // WMA encoding takes long enough for Clear to find the job still running.
    ASSERT_TRUE(converter.SetOutputFile(0, dir.File("out.wma"))) << converter.LastError();
    converter.Start(1);
    ASSERT_TRUE(
        recorder.WaitFor([](const std::vector<RunEvent>& events) { return !events.empty(); }));
    converter.Clear();
    if (recorder.Sequence() == "term0+ end")
        GTEST_SKIP() << "the conversion ended before Clear";
    EXPECT_EQ(recorder.Sequence(), "term0- end") << "the run's only job has ended";
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.wma")));
    const fixtures::DecodedAudio audio = fixtures::DecodeAudio(dir.File("out.partial.wma"));
    EXPECT_GT(audio.Frames(), 0u);
    EXPECT_LT(audio.Frames(), static_cast<size_t>(audioSpec.Frames()));
    EXPECT_NEAR(fixtures::Probe(dir.File("out.partial.wma")).durationSeconds,
                static_cast<double>(audio.Frames()) / audio.sampleRate, 0.1)
        << "the trailer was written";
}

// RealVideo streams of the stand-in's pictures through the component, as its RealVideo choice
// says: decoded by the bridge over the stand-in, or by the library's own decoders.
TEST(ConverterRealRun, RealVideoIsDecodedByTheChosenDecoders)
{
    LoadMediaLibrariesForTest();
    fixtures::TempDir dir;
    std::filesystem::create_directory(dir.File("lib"));
    std::filesystem::copy_file(REALVIDEO_STANDIN_RV40, dir.File("lib/drvc.so"));
    ASSERT_TRUE(RealVideoLibrary().Bind(dir.File("lib"))) << RealVideoLibrary().ErrorText();
    struct Restore {
        ~Restore()
        {
            RealVideoLibrary().Unload();
            TCustomFFmpegHlpr::SelectRealVideoDecoder(true);
        }
    } restore;
    RealVideoStandInState* standIn = RealVideoStandInLoadedFrom(RealVideoLibrary().LoadedPath());
    ASSERT_TRUE(standIn);

    // The stand-in's payloads: a picture of the stream's 64 x 48, then one of 32 x 24 whose
    // luma rises by 4 a column and 4 a row, which enlarging turns into steps of 2 (the last
    // column and row repeat the one before), over plain chroma.
    using Bytes = std::vector<uint8_t>;
    Bytes whole(64 * 48 * 3 / 2), small;
    for (size_t i = 0; i < whole.size(); ++i)
        whole[i] = static_cast<uint8_t>(i * 7 + i / 64);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x)
            small.push_back(static_cast<uint8_t>(4 * x + 4 * y));
    small.insert(small.end(), 16 * 12, 100);
    small.insert(small.end(), 16 * 12, 200);
    Bytes enlarged;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            enlarged.push_back(static_cast<uint8_t>(2 * std::min(x, 62) + 2 * std::min(y, 46)));
    enlarged.insert(enlarged.end(), 32 * 24, 100);
    enlarged.insert(enlarged.end(), 32 * 24, 200);
    fixtures::RealVideoSpec realVideo;
    for (const auto& [width, height, samples] : {std::tuple{64, 48, &whole}, {32, 24, &small}}) {
        Bytes frame = {0, 0, 0, 0, uint8_t(width), 0, uint8_t(height), 0};
        frame.insert(frame.end(), samples->begin(), samples->end());
        realVideo.frames.push_back(frame);
    }
    const std::string rv40 = fixtures::MakeRealVideo(dir.File("rv40.rm"), realVideo);
    realVideo.codecTag = "RV30";
    const std::string rv30 = fixtures::MakeRealVideo(dir.File("rv30.rm"), realVideo);

    RunRecorder recorder;
    TLumoAVConverter converter;
    ASSERT_TRUE(converter.LoadLibraries("", true));
    converter.SetLogLevel(llQuiet);
    converter.SetOnTerminate([&](int32_t index, bool finished) {
        recorder.Add({index < 0 ? "end" : "term", index, finished, 0});
    });
    // The job's failure and warning, or "finished".
    int runs = 0;
    const auto convert = [&](TRV34Codec choice, const std::string& input, const std::string& output,
                             const char* codec) {
        converter.SetRealVideo34Codec(choice);
        TOutputOptions options;
        options.VideoCodec = codec;
        EXPECT_EQ(converter.AddInputFile(input), 0) << converter.LastError();
        EXPECT_TRUE(converter.SetOutputFile(0, output, &options)) << converter.LastError();
        converter.Start(1);
        ++runs;
        EXPECT_TRUE(recorder.WaitFor([&](const std::vector<RunEvent>& events) {
            return std::count_if(events.begin(), events.end(),
                                 [](const RunEvent& event) { return event.kind == "end"; }) == runs;
        }));
        const std::string outcome = converter.JobError(0) + converter.JobWarning(0);
        converter.Clear();
        return outcome.empty() ? "finished" : outcome;
    };

    for (const std::string& input : {rv40, rv30}) {
        *standIn = RealVideoStandInState{};
        const std::string output = input + ".nut";
        EXPECT_EQ(convert(rvRVDLL, input, output, "rawvideo"), "finished");
        EXPECT_EQ(standIn->transforms, 2);
        EXPECT_EQ(standIn->messages, input == rv30) << "RealVideo 3 is told its picture sizes";
        const fixtures::DecodedVideo pictures = fixtures::DecodeVideo(output, true);
        ASSERT_EQ(pictures.pictures.size(), 2u) << input;
        EXPECT_TRUE(pictures.pictures[0] == whole) << input;
        EXPECT_TRUE(pictures.pictures[1] == enlarged) << input;
    }

    // The library's decoder cannot read the stand-in's payloads: each is a decoding error.
    *standIn = RealVideoStandInState{};
    EXPECT_EQ(convert(rvFFmpeg, rv40, dir.File("library.nut"), "mpeg4"), "2 decoding errors");
    EXPECT_EQ(standIn->transforms, 0);

    RealVideoLibrary().Unload();
    EXPECT_EQ(convert(rvRVDLL, rv40, dir.File("none.nut"), "mpeg4"),
              "Unsupported codec (id=69) for input stream #0.0");
}

}  // namespace
}  // namespace kelvaro::test
