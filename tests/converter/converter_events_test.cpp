#include <gtest/gtest.h>

#include <thread>

#include "medialib/log_levels.h"
#include "medialib/media_functions.h"
#include "scripted_converter.h"

namespace kelvaro::test {
namespace {

using namespace std::chrono_literals;

class ConverterEvents : public ScriptedConverterTest {
protected:
    void SetUp() override
    {
        ScriptedConverterTest::SetUp();
        converter_->SetOnLog([this](int32_t index, TLogLevel level, const std::string& text) {
            logs_.Add({"log", index, false, CurrentThreadId(), level, text});
        });
    }
    // The log events whose text is `text`.
    std::vector<RunEvent> Lines(const std::string& text) const
    {
        std::vector<RunEvent> found;
        for (const RunEvent& event : logs_.Events())
            if (event.text == text)
                found.push_back(event);
        return found;
    }
    RunRecorder logs_;
};

TEST_F(ConverterEvents, LibraryLinesFromAThreadWithoutAJobCarryIndexMinusOne)
{
    LogThreshold = 1;
    avutil.av_log(nullptr, AV_LOG_ERROR, "an error on the main thread\n");
    avutil.av_log(nullptr, AV_LOG_INFO, "some information");
    avutil.av_log(nullptr, AV_LOG_INFO, " on the main thread\n");
    avutil.av_log(nullptr, AV_LOG_DEBUG, "dropped above the threshold\n");

    ASSERT_EQ(Lines("an error on the main thread").size(), 1u);
    const RunEvent error = Lines("an error on the main thread")[0];
    EXPECT_EQ(error.index, -1);
    EXPECT_EQ(error.level, llError);
    EXPECT_EQ(error.thread, mainThread_);
    ASSERT_EQ(Lines("some information on the main thread").size(), 1u);
    EXPECT_EQ(Lines("some information on the main thread")[0].level, llInfo);
    EXPECT_EQ(logs_.Count("log"), 2);
}

TEST_F(ConverterEvents, EveryComponentReceivesEveryLibraryLine)
{
    RunRecorder second;
    TLumoAVConverter other;
    other.SetOnLog([&](int32_t index, TLogLevel level, const std::string& text) {
        second.Add({"log", index, false, CurrentThreadId(), level, text});
    });
    LogThreshold = 1;
    avutil.av_log(nullptr, AV_LOG_INFO, "to both\n");
    EXPECT_EQ(Lines("to both").size(), 1u);
    EXPECT_EQ(second.Count("log"), 1);
}

TEST_F(ConverterEvents, AWorkersLinesFromItsFirstOneOnBelongToItsJob)
{
    AddJob();
    AddJob([](ScriptedJob& job) {
        avutil.av_log(nullptr, AV_LOG_ERROR, "first line of the worker\n");
        job.Log(1, "engine information");
        job.Log(0, "engine error");
    });
    converter_->Start(2);
    ASSERT_TRUE(recorder_.WaitForEnd());

    ASSERT_EQ(Lines("first line of the worker").size(), 1u);
    EXPECT_EQ(Lines("first line of the worker")[0].index, 1);
    ASSERT_EQ(Lines("engine information").size(), 1u);
    EXPECT_EQ(Lines("engine information")[0].index, 1);
    EXPECT_EQ(Lines("engine information")[0].level, llInfo);
    ASSERT_EQ(Lines("engine error").size(), 1u);
    EXPECT_EQ(Lines("engine error")[0].level, llError);
}

TEST_F(ConverterEvents, OnTheMainThreadLibraryLinesGoToTheFirstJob)
{
    TDelayedTaskQueue::Clock::time_point now{};
    TDelayedTaskQueue queue([&] { return now; });
    converter_->SetMainThreadScheduler(&queue);
    AddJob();
    AddJob([](ScriptedJob&) { avutil.av_log(nullptr, AV_LOG_ERROR, "logged by job 1\n"); });
    converter_->Start(0);
    for (int step = 0; step < 2; ++step) {
        now += std::chrono::milliseconds(100);
        queue.RunDue();
    }
    ASSERT_EQ(recorder_.Sequence(), "run0 term0+ run1 term1+ end");
    ASSERT_EQ(Lines("logged by job 1").size(), 1u);
    EXPECT_EQ(Lines("logged by job 1")[0].index, 0) << "every job carries the main thread's id";
}

TEST_F(ConverterEvents, ProgressValuesPassUnchangedWithTheJobsIndex)
{
    std::vector<std::tuple<int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t>>
        seen;
    converter_->SetOnProgress([&](int32_t index, int32_t frame, int32_t fps, int32_t duration,
                                  float quality, float bitRate, int64_t size, int32_t total) {
        seen.emplace_back(index, frame, fps, duration, quality, bitRate, size, total);
    });
    AddJob();
    AddJob([](ScriptedJob& job) {
        job.ProgressHandler(job, -1, -1, 30000, -1.0f, 128.5f, 4096, 120000);
    });
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForEnd());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_tuple(1, -1, -1, 30000, -1.0f, 128.5f, int64_t{4096}, 120000));
}

TEST_F(ConverterEvents, AHandlerRemovedDuringARunIsNotCalledAfterwards)
{
    std::atomic<int> progress{0};
    converter_->SetOnProgress(
        [&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) { ++progress; });
    AddJob([](ScriptedJob& job) {
        while (!job.StopRequested) {
            job.ProgressHandler(job, 0, 0, 10, 0, 0, 0, 100);
            job.Log(1, "still running");
            std::this_thread::yield();
        }
    });
    converter_->Start(1);
    ASSERT_TRUE(logs_.WaitFor([&](const std::vector<RunEvent>&) { return progress > 20; }));

    converter_->SetOnProgress(nullptr);
    converter_->SetOnLog(nullptr);
    converter_->SetOnTerminate(nullptr);
    const int progressAtRemoval = progress;
    const size_t linesAtRemoval = logs_.Events().size();
    std::this_thread::sleep_for(30ms);
    converter_->Stop();
    converter_->Clear();
    EXPECT_EQ(progress, progressAtRemoval);
    EXPECT_EQ(logs_.Events().size(), linesAtRemoval);
    EXPECT_EQ(recorder_.Count("term"), 0);
    EXPECT_FALSE(converter_->OnProgress());
}

TEST_F(ConverterEvents, AHandlerMayRemoveItself)
{
    int calls = 0;
    converter_->SetOnProgress(
        [&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
            ++calls;
            converter_->SetOnProgress(nullptr);
        });
    AddJob([](ScriptedJob& job) {
        for (int i = 0; i < 3; ++i)
            job.ProgressHandler(job, 0, 0, 10, 0, 0, 0, 100);
    });
    converter_->Start(1);
    ASSERT_TRUE(recorder_.WaitForEnd());
    EXPECT_EQ(calls, 1);
}

TEST_F(ConverterEvents, HandlersOfOneComponentNeverRunAtTheSameTime)
{
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    converter_->SetOnProgress(
        [&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
            if (++inside > 1)
                overlapped = true;
            std::this_thread::sleep_for(100us);
            --inside;
        });
    const JobScript busy = [](ScriptedJob& job) {
        for (int i = 0; i < 200; ++i)
            job.ProgressHandler(job, 0, 0, i, 0, 0, 0, 100);
    };
    AddJob(busy);
    AddJob(busy);
    AddJob(busy);
    converter_->Start(3);
    ASSERT_TRUE(recorder_.WaitForEnd());
    EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace kelvaro::test
