#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "fixtures/media_fixtures.h"

extern char** environ;

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Outcome {
    int status = -1;  // exit status; 128 + n for a signal n
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs the command line program with `arguments`, its output captured in `dir`.
class Kelvaro {
public:
    Kelvaro(const fixtures::TempDir& dir, std::vector<std::string> arguments,
            std::vector<std::string> environment = {})
        : outPath_(dir.File("stdout.txt")), errPath_(dir.File("stderr.txt"))
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        arguments.insert(arguments.begin(), KELVARO_CLI);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        for (char** variable = environ; *variable; ++variable)
            environment.emplace_back(*variable);
        std::vector<char*> envp;
        for (std::string& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        const int error =
            posix_spawn(&pid_, KELVARO_CLI, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(error, 0) << "cannot start " << KELVARO_CLI;
    }
    ~Kelvaro()
    {
        if (pid_ > 0)
            Wait();
    }

    void Signal(int signal) const { kill(pid_, signal); }
    std::string OutputSoFar() const { return ReadFile(outPath_); }
    Outcome Wait()
    {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        Outcome outcome;
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.out = ReadFile(outPath_);
        outcome.err = ReadFile(errPath_);
        return outcome;
    }

private:
    std::string outPath_;
    std::string errPath_;
    pid_t pid_ = -1;
};

Outcome RunKelvaro(const fixtures::TempDir& dir, std::vector<std::string> arguments,
                   std::vector<std::string> environment = {})
{
    return Kelvaro(dir, std::move(arguments), std::move(environment)).Wait();
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class CommandLineRun : public ::testing::Test {
protected:
    fixtures::AudioSpec Audio(double seconds, int channels = 2, int sampleRate = 44100) const
    {
        fixtures::AudioSpec audioSpec;
        audioSpec.seconds = seconds;
        audioSpec.channels = channels;
        audioSpec.sampleRate = sampleRate;
        return audioSpec;
    }
    std::string Out(const std::string& name) const { return dir_.File("out/" + name); }

    fixtures::TempDir dir_;
};

TEST_F(CommandLineRun, BadUsageExitsWithTwoAndTheUsage)
{
    Outcome outcome = RunKelvaro(dir_, {});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(Contains(outcome.err, "kelvaro: no files to convert")) << outcome.err;
    EXPECT_TRUE(Contains(outcome.err, "Usage: kelvaro"));

    outcome = RunKelvaro(dir_, {"--format", "ogg", "a.wav"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(Contains(outcome.err, "unknown format 'ogg'"));

    outcome = RunKelvaro(dir_, {"--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(Contains(outcome.out, "Usage: kelvaro"));
}

TEST_F(CommandLineRun, MixedFilesBecomeWmaNamedAfterThemWithTheirAudio)
{
    fixtures::AudioSpec song = Audio(2);
    song.tags = {{"title", "Für dich"}, {"artist", "Someone"}};
    const std::string mp3 = fixtures::MakeMp3(dir_.File("song.mp3"), song);
    const std::string flac = fixtures::MakeFlac(dir_.File("take.two.flac"), Audio(2, 1, 22050));
    fixtures::VideoSpec video;
    video.seconds = 2;
    const std::string dat = fixtures::MakeMpegPs(dir_.File("AVSEQ01.DAT"), video, Audio(2));

    const Outcome outcome = RunKelvaro(dir_, {"--output", dir_.File("out"), mp3, flac, dat});
    ASSERT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, "Summary: 3 files: 3 done, 0 failed")) << outcome.out;

    for (const auto& [name, channels, rate] : {std::tuple{"song.wma", 2, 44100},
                                               {"take.two.wma", 1, 22050},
                                               {"AVSEQ01.wma", 2, 44100}}) {
        SCOPED_TRACE(name);
        const fixtures::MediaInfo info = fixtures::Probe(Out(name));
        ASSERT_EQ(info.streams.size(), 1u) << "video is dropped";
        EXPECT_EQ(info.streams[0].codec, "wmav2");
        EXPECT_EQ(info.streams[0].channels, channels);
        EXPECT_EQ(info.streams[0].sampleRate, rate);
        EXPECT_NEAR(info.durationSeconds, 2.0, 0.2);
    }
    const std::map<std::string, std::string> tags = fixtures::Probe(Out("song.wma")).metadata;
    EXPECT_EQ(tags.count("title") ? tags.at("title") : "", "Für dich");
    EXPECT_EQ(tags.count("artist") ? tags.at("artist") : "", "Someone");
}

TEST_F(CommandLineRun, AFailingFileIsReportedWithItsReasonWhileTheOthersConvert)
{
    const std::string good = fixtures::MakeWav(dir_.File("good.wav"), Audio(1));
    const std::string broken =
        fixtures::MakeRawFile(dir_.File("broken.mp3"), std::string(4096, '\x5a'));
    const std::string other = fixtures::MakeFlac(dir_.File("other.flac"), Audio(1));
    const std::string missing = dir_.File("missing.ogg");

    const Outcome outcome = RunKelvaro(
        dir_, {"--format=wav", "--output", dir_.File("out"), good, broken, missing, other});
    EXPECT_EQ(outcome.status, 1) << outcome.out << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, "Summary: 4 files: 2 done, 2 failed")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "  done     " + good + " -> " + Out("good.wav")));
    EXPECT_TRUE(Contains(outcome.out, "  done     " + other + " -> " + Out("other.wav")));
    EXPECT_TRUE(Contains(outcome.out, "  failed   " + broken + "\n           reason: " + broken))
        << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "reason: " + missing + ": no such file or directory"));
    EXPECT_EQ(fixtures::DecodeAudio(Out("good.wav")).samples, fixtures::DecodeAudio(good).samples)
        << "WAV keeps every sample";
    EXPECT_FALSE(fs::exists(Out("broken.wav")));
    EXPECT_FALSE(fs::exists(Out("missing.wav")));
}

TEST_F(CommandLineRun, TwoJobsAtOnceConvertEveryFile)
{
    std::vector<std::string> arguments = {"--jobs", "2", "--output", dir_.File("out")};
    for (int i = 0; i < 5; ++i)
        arguments.push_back(
            fixtures::MakeWav(dir_.File("part" + std::to_string(i) + ".wav"), Audio(3)));
    const Outcome outcome = RunKelvaro(dir_, arguments);
    ASSERT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, "Summary: 5 files: 5 done, 0 failed"));
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(fixtures::Probe(Out("part" + std::to_string(i) + ".wma")).durationSeconds, 3.0,
                    0.2);
}

TEST_F(CommandLineRun, SurroundAndHighRateInputsStillBecomeWma)
{
    const std::string surround = fixtures::MakeWav(dir_.File("surround.wav"), Audio(1, 6, 96000));
    const Outcome outcome = RunKelvaro(dir_, {"--output", dir_.File("out"), surround});
    ASSERT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    const fixtures::MediaInfo info = fixtures::Probe(Out("surround.wma"));
    ASSERT_EQ(info.streams.size(), 1u);
    EXPECT_EQ(info.streams[0].channels, 2);
    EXPECT_EQ(info.streams[0].sampleRate, 48000);

    const Outcome wav =
        RunKelvaro(dir_, {"--format", "wav", "--output", dir_.File("out"), surround});
    ASSERT_EQ(wav.status, 0) << wav.out << wav.err;
    EXPECT_EQ(fixtures::Probe(Out("surround.wav")).streams.at(0).channels, 6);
    EXPECT_EQ(fixtures::Probe(Out("surround.wav")).streams.at(0).sampleRate, 96000);
}

TEST_F(CommandLineRun, TwoFilesWithOneOutputNameDoNotOverwriteEachOther)
{
    fs::create_directory(dir_.File("a"));
    fs::create_directory(dir_.File("b"));
    const std::string first = fixtures::MakeWav(dir_.File("a/song.wav"), Audio(1));
    const std::string second = fixtures::MakeFlac(dir_.File("b/song.flac"), Audio(2));
    const Outcome outcome = RunKelvaro(dir_, {"--output", dir_.File("out"), first, second});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(
        Contains(outcome.out, "reason: " + Out("song.wma") + " is already the output of " + first))
        << outcome.out;
    EXPECT_NEAR(fixtures::Probe(Out("song.wma")).durationSeconds, 1.0, 0.2);
}

TEST_F(CommandLineRun, TheDefaultFolderIsTheWindowsStoredOneElseTheFallback)
{
    const std::string input = fixtures::MakeWav(dir_.File("tune.wav"), Audio(1));
    const std::string config = "XDG_CONFIG_HOME=" + dir_.File("config");
    Outcome outcome =
        RunKelvaro(dir_, {input}, {config, "KELVARO_DEFAULT_FOLDER=" + dir_.File("chosen")});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_TRUE(fs::exists(dir_.File("chosen/tune.wma")));

    outcome =
        RunKelvaro(dir_, {input}, {config, "KELVARO_DEFAULT_FOLDER=", "HOME=" + dir_.File("home")});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_TRUE(fs::exists(dir_.File("home/Kelvaro/tune.wma")));

    // What the window's settings saved as the default comes first.
    fs::create_directories(dir_.File("config/kelvaro"));
    std::ofstream(dir_.File("config/kelvaro/Path.ini"))
        << "[Output]\nPath=" << dir_.File("stored") << "\n";
    outcome = RunKelvaro(dir_, {input}, {config, "KELVARO_DEFAULT_FOLDER=" + dir_.File("chosen")});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_TRUE(fs::exists(dir_.File("stored/tune.wma")));
}

// The unfinished outputs in `folder`: hidden files that say what they are.
std::vector<std::string> TemporaryFiles(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with('.') && name.ends_with(".kelvaro-part"))
            found.push_back(entry.path().string());
    }
    return found;
}

// Waits until `folder` holds an unfinished output that has grown past its header.
bool WaitForWriting(const std::string& folder)
{
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        for (const std::string& file :
             fs::exists(folder) ? TemporaryFiles(folder) : std::vector<std::string>{})
            if (fs::file_size(file, error) > 64 * 1024 && !error)
                return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST_F(CommandLineRun, AStopSignalEndsTheRunWithASummaryAndNoHalfMadeOutput)
{
    const std::string first = fixtures::MakeWav(dir_.File("first.wav"), Audio(90));
    const std::string second = fixtures::MakeWav(dir_.File("second.wav"), Audio(1));
    struct Case {
        int signal;
        bool keepPartial;
    };
    for (const Case& c : {Case{SIGTERM, false}, Case{SIGHUP, false}, Case{SIGINT, true}}) {
        SCOPED_TRACE(strsignal(c.signal));
        const std::string folder = dir_.File("out" + std::to_string(c.signal));
        fs::create_directories(folder);
        std::ofstream(folder + "/first.wma") << "earlier";
        std::vector<std::string> arguments = {"--output", folder, first, second};
        if (c.keepPartial)
            arguments.insert(arguments.begin(), "--keep-partial");
        Kelvaro kelvaro(dir_, arguments);
        ASSERT_TRUE(WaitForWriting(folder));
        kelvaro.Signal(c.signal);
        const Outcome outcome = kelvaro.Wait();

        EXPECT_EQ(outcome.status, 128 + c.signal) << outcome.out << outcome.err;
        EXPECT_TRUE(Contains(outcome.out, "Summary: 2 files: 0 done, 0 failed, 2 stopped\n"))
            << outcome.out;
        EXPECT_TRUE(TemporaryFiles(folder).empty());
        EXPECT_FALSE(fs::exists(folder + "/second.wma")) << "never started";
        if (!c.keepPartial) {
            EXPECT_TRUE(Contains(outcome.out, "  stopped  " + first + " (no output kept)\n"));
            EXPECT_EQ(ReadFile(folder + "/first.wma"), "earlier");
            continue;
        }
        EXPECT_TRUE(Contains(outcome.out,
                             "  stopped  " + first + " -> " + folder + "/first.wma (partial)\n"))
            << outcome.out;
        // Valid up to where it stopped: the header knows the length it has.
        const fixtures::DecodedAudio audio = fixtures::DecodeAudio(folder + "/first.wma");
        const double seconds = static_cast<double>(audio.Frames()) / audio.sampleRate;
        EXPECT_GT(seconds, 0.0);
        EXPECT_LT(seconds, 90.0);
        EXPECT_NEAR(fixtures::Probe(folder + "/first.wma").durationSeconds, seconds, 0.2);
    }
}

TEST_F(CommandLineRun, AKilledRunLeavesOnlyATemporaryFileThatTheNextRunRemoves)
{
    const std::string input = fixtures::MakeWav(dir_.File("long.wav"), Audio(90));
    fs::create_directories(Out(""));
    std::ofstream(Out("long.wma")) << "earlier";
    Kelvaro killed(dir_, {"--output", Out(""), input});
    ASSERT_TRUE(WaitForWriting(Out("")));
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait().status, 128 + SIGKILL);
    EXPECT_EQ(ReadFile(Out("long.wma")), "earlier");
    const std::vector<std::string> left = TemporaryFiles(Out(""));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(fs::path(left[0]).filename().string().rfind(".long.wma.", 0), 0u) << left[0];

    const std::string short_ = fixtures::MakeWav(dir_.File("short.wav"), Audio(0.5));
    const Outcome next = RunKelvaro(dir_, {"--output", Out(""), short_});
    EXPECT_EQ(next.status, 0) << next.out << next.err;
    EXPECT_TRUE(TemporaryFiles(Out("")).empty()) << "its writer is gone: it is removed";
    EXPECT_EQ(ReadFile(Out("long.wma")), "earlier");
}

TEST_F(CommandLineRun, MoreFilesThanTheOpenFileLimitAllConvert)
{
    std::vector<std::string> arguments = {"--jobs", "2", "--output", Out("")};
    const std::string tone = fixtures::MakeWav(dir_.File("tone.wav"), Audio(0.05));
    for (int i = 0; i < 150; ++i) {
        const std::string link = dir_.File("in" + std::to_string(i) + ".wav");
        fs::create_symlink(tone, link);
        arguments.push_back(link);
    }
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    Kelvaro kelvaro(dir_, arguments);  // the limit is inherited
    setrlimit(RLIMIT_NOFILE, &saved);
    const Outcome outcome = kelvaro.Wait();
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(Contains(outcome.out, "Summary: 150 files: 150 done, 0 failed\n"));
}

}  // namespace
}  // namespace kelvaro
