#include "scripted_converter.h"

#include <thread>

#include "support/test_support.h"

namespace kelvaro::test {

using namespace std::chrono_literals;

void RunRecorder::Add(RunEvent event)
{
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
}

std::vector<RunEvent> RunRecorder::Events() const
{
    std::lock_guard lock(mutex_);
    return events_;
}

namespace {

std::string SequenceOf(const std::vector<RunEvent>& events)
{
    std::string sequence;
    for (const RunEvent& event : events) {
        std::string word;
        if (event.kind == "run")
            word = "run" + std::to_string(event.index);
        else if (event.kind == "term")
            word = "term" + std::to_string(event.index) + (event.finished ? "+" : "-");
        else if (event.kind == "end")
            word = "end";
        else
            continue;
        sequence += (sequence.empty() ? "" : " ") + word;
    }
    return sequence;
}

}  // namespace

std::string RunRecorder::Sequence() const
{
    return SequenceOf(Events());
}

int RunRecorder::Count(const std::string& kind) const
{
    int count = 0;
    for (const RunEvent& event : Events())
        count += event.kind == kind;
    return count;
}

RunEvent RunRecorder::Find(const std::string& kind, int32_t index) const
{
    for (const RunEvent& event : Events())
        if (event.kind == kind && event.index == index)
            return event;
    ADD_FAILURE() << "no " << kind << " event for job " << index << " in " << Sequence();
    return {};
}

bool RunRecorder::WaitFor(const std::function<bool(const std::vector<RunEvent>&)>& done) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return done(events_); });
}

bool RunRecorder::WaitForSequence(const std::string& sequence) const
{
    return WaitFor(
        [&](const std::vector<RunEvent>& events) { return SequenceOf(events) == sequence; });
}

bool RunRecorder::WaitForEnd() const
{
    return WaitFor([](const std::vector<RunEvent>& events) {
        for (const RunEvent& event : events)
            if (event.kind == "end")
                return true;
        return false;
    });
}

ScriptedJob::ScriptedJob(std::mutex& codecLock, RunRecorder& recorder, JobScript script)
    : TFFmpegHlpr(codecLock), recorder_(recorder), script_(std::move(script))
{
}

void ScriptedJob::Transcode()
{
    reportIntervalAtRun = ReportInterval;
    logLevelAtRun = JobLogLevel;
    recorder_.Add({"run", Index, false, CurrentThreadId()});
    if (script_)
        script_(*this);
    Finished = !StopRequested;
}

void ScriptedJob::WorkerThreadCreated(uint32_t threadId)
{
    startedFrom = CurrentThreadId();
    TFFmpegHlpr::WorkerThreadCreated(threadId);
}

void WaitForStop(ScriptedJob& job)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!job.StopRequested && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
}

JobScript WaitForGateOrStop(const std::atomic<bool>& gate)
{
    return [&gate](ScriptedJob& job) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!gate && !job.StopRequested && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
    };
}

JobScript Fail(const std::string& message)
{
    return [message](ScriptedJob&) { throw FFMpegException(message); };
}

ScriptedConverterTest::ScriptedConverterTest() : mainThread_(CurrentThreadId()) {}

void ScriptedConverterTest::SetUp()
{
    LoadMediaLibrariesForTest();
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 0.1;
    input_ = fixtures::MakeWav(dir_.File("input.wav"), audioSpec);
    converter_ = std::make_unique<TLumoAVConverter>();
    ASSERT_TRUE(converter_->LoadLibraries("", true));
    converter_->SetJobFactory([this](std::mutex& codecLock) {
        auto job = std::make_unique<ScriptedJob>(codecLock, recorder_, std::move(nextScript_));
        nextScript_ = {};
        jobs_.push_back(job.get());
        return job;
    });
    RecordTerminations();
}

void ScriptedConverterTest::TearDown()
{
    converter_.reset();
}

void ScriptedConverterTest::RecordTerminations()
{
    converter_->SetOnTerminate([this](int32_t index, bool finished) {
        recorder_.Add({index < 0 ? "end" : "term", index, finished, CurrentThreadId()});
    });
}

int32_t ScriptedConverterTest::AddJob(JobScript script, bool withOutput)
{
    nextScript_ = std::move(script);
    const int32_t index = converter_->AddInputFile(input_);
    EXPECT_GE(index, 0) << converter_->LastError();
    if (withOutput && index >= 0) {
        EXPECT_TRUE(converter_->SetOutputFile(
            index, dir_.File("out" + std::to_string(index) + ".wav"), nullptr))
            << converter_->LastError();
    }
    return index;
}

}  // namespace kelvaro::test
