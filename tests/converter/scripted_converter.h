#pragma once
// A converter whose jobs open real (tiny) files but script their transcode, and a recorder
// of everything the run does, in the order it happened.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "converter/av_converter.h"
#include "fixtures/media_fixtures.h"

namespace kelvaro::test {

struct RunEvent {
    RunEvent() = default;
    RunEvent(std::string kind, int32_t index, bool finished, uint32_t thread,
             TLogLevel level = llQuiet, std::string text = {})
        : kind(std::move(kind)),
          index(index),
          finished(finished),
          thread(thread),
          level(level),
          text(std::move(text))
    {
    }
    std::string kind;  // "run", "term", "end", "log"
    int32_t index = -1;
    bool finished = false;
    uint32_t thread = 0;
    TLogLevel level = llQuiet;
    std::string text;
};

class RunRecorder {
public:
    void Add(RunEvent event);
    std::vector<RunEvent> Events() const;
    // "run0 term0+ run1 term1- end": runs, terminations (+ finished, - not) and the end.
    std::string Sequence() const;
    int Count(const std::string& kind) const;
    // The first event of that kind and index; fails the test when there is none.
    RunEvent Find(const std::string& kind, int32_t index) const;
    // Waits (up to 10 s) until `done` holds for the events; false on time-out.
    bool WaitFor(const std::function<bool(const std::vector<RunEvent>&)>& done) const;
    bool WaitForSequence(const std::string& sequence) const;
    bool WaitForEnd() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RunEvent> events_;
};

class ScriptedJob;
using JobScript = std::function<void(ScriptedJob&)>;

class ScriptedJob final : public TFFmpegHlpr {
public:
    ScriptedJob(std::mutex& codecLock, RunRecorder& recorder, JobScript script);
    ~ScriptedJob() override { StopAndWait(); }

    // What the job saw when it ran, and the thread that started it in a worker.
    std::atomic<int64_t> reportIntervalAtRun{0};
    std::atomic<int> logLevelAtRun{-9};
    std::atomic<uint32_t> startedFrom{0};

protected:
    void Transcode() override;
    void WorkerThreadCreated(uint32_t threadId) override;

private:
    RunRecorder& recorder_;
    JobScript script_;
};

// Scripts.
void WaitForStop(ScriptedJob& job);
JobScript WaitForGateOrStop(const std::atomic<bool>& gate);
JobScript Fail(const std::string& message);

class ScriptedConverterTest : public ::testing::Test {
protected:
    ScriptedConverterTest();
    void SetUp() override;
    void TearDown() override;

    // A job whose script is `script` (finishing at once when empty), with an output unless
    // told otherwise; returns its index.
    int32_t AddJob(JobScript script = {}, bool withOutput = true);
    ScriptedJob& Job(int32_t index) { return *jobs_.at(static_cast<size_t>(index)); }
    void RecordTerminations();

    fixtures::TempDir dir_;
    std::string input_;
    RunRecorder recorder_;
    std::unique_ptr<TLumoAVConverter> converter_;
    std::vector<ScriptedJob*> jobs_;
    JobScript nextScript_;
    const uint32_t mainThread_;
};

}  // namespace kelvaro::test
