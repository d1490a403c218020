// What a run does to the files around it: jobs waiting for their turn hold no file, and no
// job that does not end with a valid file touches an earlier file of its output's name.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "converter/av_converter.h"
#include "converter/conversion_rule.h"
#include "fixtures/media_fixtures.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Files of `folder` whose name marks an unfinished output.
int TemporaryFiles(const std::string& folder)
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.path().string().ends_with(".kelvaro-part");
    return count;
}

// Lowers a resource limit of this process until it goes.
class ScopedLimit {
public:
    ScopedLimit(int resource, rlim_t soft) : resource_(resource)
    {
        getrlimit(resource_, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = soft;
        EXPECT_EQ(setrlimit(resource_, &lowered), 0);
    }
    ~ScopedLimit() { setrlimit(resource_, &saved_); }

private:
    int resource_;
    rlimit saved_{};
};

// A run of one converter, with what its events said.
class TRecordedRun {
public:
    TRecordedRun()
    {
        EXPECT_TRUE(converter.LoadLibraries("", true));
        converter.SetProgressInterval(100);
        converter.SetOnProgress(
            [this](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
                // Stopped from its own report, the job cannot have finished first.
                if (stopAtFirstReport)
                    converter.Stop();
            });
        converter.SetOnTerminate([this](int32_t index, bool finished) {
            std::lock_guard lock(mutex_);
            if (index < 0)
                ended_ = true;
            else if (finished)
                ++finished_;
            changed_.notify_all();
        });
    }
    bool WaitForEnd()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 60s, [this] { return ended_; });
    }
    int Finished()
    {
        std::lock_guard lock(mutex_);
        return finished_;
    }

    TLumoAVConverter converter;
    std::atomic<bool> stopAtFirstReport{false};

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int finished_ = 0;
    bool ended_ = false;
};

class ConverterFiles : public ::testing::Test {
protected:
    void SetUp() override { test::LoadMediaLibrariesForTest(); }

    std::string Tone(const std::string& name, double seconds)
    {
        fixtures::AudioSpec audioSpec;
        audioSpec.seconds = seconds;
        return fixtures::MakeWav(dir_.File(name), audioSpec);
    }

    fixtures::TempDir dir_;
};

TEST_F(ConverterFiles, MoreFilesThanTheOpenFileLimitAllConvertOnBothWaysOfAddingThem)
{
    constexpr int kFiles = 60;
    std::vector<std::string> inputs;
    for (int i = 0; i < kFiles; ++i)
        inputs.push_back(Tone("in" + std::to_string(i) + ".wav", 0.05));
    fs::create_directories(dir_.File("part"));
    fs::create_directories(dir_.File("jobs"));
    // Each waiting job used to hold its input and its output open: far more than this.
    const ScopedLimit limit(RLIMIT_NOFILE, 48);

    TRecordedRun added;
    for (int i = 0; i < kFiles; ++i) {
        const int32_t index = added.converter.AddInputFile(inputs[i]);
        ASSERT_EQ(index, i) << added.converter.LastError();
        ASSERT_TRUE(
            added.converter.SetOutputFile(index, dir_.File("part/" + std::to_string(i) + ".wav")))
            << added.converter.LastError();
    }
    added.converter.Start(2);
    ASSERT_TRUE(added.WaitForEnd());
    EXPECT_EQ(added.Finished(), kFiles);

    TRecordedRun taken;
    taken.converter.BeginRun(2);
    for (int i = 0; i < kFiles; ++i) {
        const std::string output = dir_.File("jobs/" + std::to_string(i) + ".wma");
        ASSERT_EQ(taken.converter.AddJob(inputs[i],
                                         ConversionSetUp(inputs[i], TTargetFormat::Wma, output)),
                  i);
    }
    taken.converter.EndOfJobs();
    ASSERT_TRUE(taken.WaitForEnd());
    EXPECT_EQ(taken.Finished(), kFiles);
    for (int i = 0; i < kFiles; ++i)
        EXPECT_GT(fs::file_size(dir_.File("jobs/" + std::to_string(i) + ".wma")), 0u) << i;
}

TEST_F(ConverterFiles, AnEarlierOutputSurvivesEveryJobThatDoesNotEndWithAValidFile)
{
    // Long enough for progress reports before its end, at any speed.
    const std::string input = Tone("in.wav", 180.0);
    const std::string output = dir_.File("out/in.wma");
    fs::create_directories(dir_.File("out"));
    std::ofstream(output) << "earlier";
    const auto job = [&](TRecordedRun& run) {
        return run.converter.AddJob(input, ConversionSetUp(input, TTargetFormat::Wma, output));
    };

    {
        SCOPED_TRACE("set up, then cleared before its turn");
        TRecordedRun run;
        ASSERT_EQ(run.converter.AddInputFile(input), 0);
        ASSERT_TRUE(run.converter.SetOutputFile(0, output));
        run.converter.Clear();
        EXPECT_TRUE(ReadFile(output) == "earlier");
    }
    {
        SCOPED_TRACE("the output's disk is full (a file-size limit)");
        std::signal(SIGXFSZ, SIG_IGN);
        TRecordedRun run;
        {
            const ScopedLimit limit(RLIMIT_FSIZE, 256 * 1024);
            ASSERT_EQ(job(run), 0);
            run.converter.Start(1);
            ASSERT_TRUE(run.WaitForEnd());
        }
        std::signal(SIGXFSZ, SIG_DFL);
        EXPECT_EQ(run.Finished(), 0);
        EXPECT_FALSE(run.converter.JobError(0).empty());
        EXPECT_TRUE(ReadFile(output) == "earlier");
    }
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "stopped, keeping what it converted" : "stopped");
        TRecordedRun run;
        run.converter.SetKeepStoppedOutputs(keep);
        run.stopAtFirstReport = true;
        ASSERT_EQ(job(run), 0);
        run.converter.Start(1);
        ASSERT_TRUE(run.WaitForEnd());
        run.converter.Clear();
        EXPECT_TRUE(ReadFile(output) == "earlier");
        const std::string partial = dir_.File("out/in.partial.wma");
        EXPECT_EQ(fs::exists(partial), keep);
        if (!keep)
            continue;
        // What it had converted is kept beside the earlier file, valid up to where it stopped.
        const fixtures::DecodedAudio audio = fixtures::DecodeAudio(partial);
        EXPECT_GT(audio.Frames(), 0u);
        EXPECT_LT(audio.Frames(), 180u * 44100u);
    }
    EXPECT_EQ(TemporaryFiles(dir_.File("out")), 0);
}

}  // namespace
}  // namespace kelvaro
