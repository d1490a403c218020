#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Runs the command line program (or `program`) with `arguments`, its output captured in
// `dir`.
class Kelvaro {
public:
    // `input`: the file standard input reads; none when empty.
    Kelvaro(const fixtures::TempDir& dir, std::vector<std::string> arguments,
            std::vector<std::string> environment = {}, const std::string& input = {},
            const char* program = KELVARO_CLI)
        : outPath_(dir.File("stdout.txt")), errPath_(dir.File("stderr.txt"))
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!input.empty())
            posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        arguments.insert(arguments.begin(), program);
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
        const int error = posix_spawnp(&pid_, program, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(error, 0) << "cannot start " << program;
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
                   std::vector<std::string> environment = {}, const std::string& input = {},
                   const char* program = KELVARO_CLI)
{
    return Kelvaro(dir, std::move(arguments), std::move(environment), input, program).Wait();
}

// What a decoder gives of `path`: a WMA's container also counts the silence its decoder
// eats at the head.
double DecodedSeconds(const std::string& path)
{
    const fixtures::DecodedAudio audio = fixtures::DecodeAudio(path);
    return static_cast<double>(audio.Frames()) / audio.sampleRate;
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

TEST_F(CommandLineRun, BadUsageExitsWithTwoAndOneLinePointingToTheHelp)
{
    Outcome outcome = RunKelvaro(dir_, {});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, "kelvaro: no files to convert (kelvaro --help shows the options)\n");

    outcome = RunKelvaro(dir_, {"-f", "ape", "a.wav"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err,
              "kelvaro: unknown format 'ape' (wma, wav, mp3, aac, opus, vorbis, flac "
              "or alac) (kelvaro --help shows the options)\n");

    outcome = RunKelvaro(dir_, {"-h"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.out.starts_with("Usage: kelvaro"));
    outcome = RunKelvaro(dir_, {"--version"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.out.starts_with("kelvaro 2.0\n")) << outcome.out;

    // Options that nothing in the output takes, or that the format sets itself, are refused
    // before anything converts.
    const std::string input = fixtures::MakeWav(dir_.File("a.wav"), Audio(0.2));
    for (const auto& [option, message] :
         {std::pair{"bogus=1",
                    "--option bogus: no part of a WMA output takes an option of "
                    "that name\n"},
          {"title=X", "--option title: no part of a WMA output takes an option of that name\n"},
          {"b=192000",
           "--option b: the bit rate is the format's own setting; choose it with "
           "--bitrate\n"},
          {"ar=22050", "--option ar: the sample rate follows the input; choose it with --rate\n"},
          {"packet_size=x",
           "--option packet_size=x: the option packet_size does not take "
           "that value\n"}}) {
        outcome = RunKelvaro(dir_, {"--option", option, input});
        EXPECT_EQ(outcome.status, 2) << option;
        EXPECT_EQ(outcome.err, std::string("kelvaro: ") + message);
    }
    EXPECT_FALSE(fs::exists(dir_.File("a.wma")));
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
    // The summary on standard output: the counts, then the failures alone; every file's
    // line went to standard error as it ended, each failure once.
    EXPECT_TRUE(outcome.out.starts_with("Summary: 4 files: 2 done, 2 failed\n  failed   "))
        << outcome.out;
    EXPECT_FALSE(Contains(outcome.out, "done     ")) << outcome.out;
    EXPECT_TRUE(Contains(
        outcome.out,
        "  failed   " + broken + "\n           reason: not an audio file Kelvaro can read"))
        << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "reason: " + missing + ": no such file or directory"));
    EXPECT_TRUE(Contains(outcome.err, "done     " + good + " -> " + Out("good.wav") + "\n"));
    EXPECT_TRUE(Contains(outcome.err, "done     " + other + " -> " + Out("other.wav") + "\n"));
    // The file named once, and the failure said once.
    const std::string missingLine = "failed   " + missing + ": no such file or directory\n";
    EXPECT_TRUE(Contains(outcome.err, missingLine)) << outcome.err;
    EXPECT_EQ(outcome.err.find(missingLine), outcome.err.rfind(missingLine)) << outcome.err;
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

TEST_F(CommandLineRun, WithoutAnOutputFolderEachOutputGoesBesideItsInput)
{
    fs::create_directories(dir_.File("album"));
    const std::string input = fixtures::MakeWav(dir_.File("album/tune.wav"), Audio(0.5));
    // A folder the window saved has no say in what scripts do.
    const std::string config = "XDG_CONFIG_HOME=" + dir_.File("config");
    fs::create_directories(dir_.File("config/kelvaro"));
    std::ofstream(dir_.File("config/kelvaro/Path.ini"))
        << "[Output]\nPath=" << dir_.File("stored") << "\n";
    const Outcome outcome =
        RunKelvaro(dir_, {input}, {config, "KELVARO_DEFAULT_FOLDER=" + dir_.File("chosen")});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_NEAR(DecodedSeconds(dir_.File("album/tune.wma")), 0.5, 0.1);
    EXPECT_FALSE(fs::exists(dir_.File("stored")));
    EXPECT_FALSE(fs::exists(dir_.File("chosen")));
}

// The samples of a WAV file: its data chunk.
std::string WavData(const std::string& path)
{
    const std::string bytes = ReadFile(path);
    const size_t at = bytes.find("data", 12);
    if (at == std::string::npos || at + 8 > bytes.size())
        return {};
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i)
        size = size << 8 | static_cast<uint8_t>(bytes[at + 4 + static_cast<size_t>(i)]);
    return bytes.substr(at + 8, size);
}

TEST_F(CommandLineRun, ChosenBitRateRateChannelsAndBitsAreWhatTheOutputsHold)
{
    const std::string input = fixtures::MakeWav(dir_.File("in.wav"), Audio(1, 2, 44100));
    Outcome outcome = RunKelvaro(dir_, {"-o", Out(""), "--bitrate", "192k", input});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(fixtures::Probe(Out("in.wma")).streams.at(0).bitRate, 192000);

    outcome = RunKelvaro(dir_, {"-o", Out(""), "--rate", "22050", "--channels=1", input});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    fixtures::StreamInfo stream = fixtures::Probe(Out("in.wma")).streams.at(0);
    EXPECT_EQ(stream.sampleRate, 22050);
    EXPECT_EQ(stream.channels, 1);
    EXPECT_EQ(stream.bitRate, 128000);

    outcome = RunKelvaro(dir_, {"-o", Out(""), "-f", "wav", "--bits", "24", "--rate", "96000",
                                "--channels", "4", input});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    stream = fixtures::Probe(Out("in.wav")).streams.at(0);
    EXPECT_EQ(stream.codec, "pcm_s24le");
    EXPECT_EQ(stream.sampleRate, 96000);
    EXPECT_EQ(stream.channels, 4);

    // A 24-bit source keeps every bit in a 24-bit WAV, and its top 16 in a 16-bit one.
    std::string samples;
    for (uint32_t i = 0; i < 4800 * 2; ++i)
        samples += std::string{static_cast<char>(i * 37), static_cast<char>(i * 11),
                               static_cast<char>(i * 5 + 128)};
    const std::string deep = fixtures::MakeRawFile(
        dir_.File("deep.wav"),
        fixtures::WavHeader(48000, 2, static_cast<uint32_t>(samples.size()), 24) + samples);
    const std::string kept = Out("24/deep.wav");
    const std::string cut = Out("16/deep.wav");
    ASSERT_EQ(RunKelvaro(dir_, {"-o", Out("24"), "-f", "wav", "--bits", "24", deep}).status, 0);
    ASSERT_EQ(RunKelvaro(dir_, {"-o", Out("16"), "-f", "wav", deep}).status, 0);
    EXPECT_EQ(WavData(kept), samples);
    std::string top;
    for (size_t at = 0; at < samples.size(); at += 3)
        top += samples.substr(at + 1, 2);
    EXPECT_EQ(WavData(cut), top);

    // What the encoder cannot write at the file's rate fails that file, with the reason.
    const std::string low = fixtures::MakeWav(dir_.File("low.wav"), Audio(0.2, 1, 8000));
    outcome = RunKelvaro(dir_, {"-o", Out(""), "--bitrate", "5000k", low, input});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.out, "Summary: 2 files: 1 done, 1 failed\n  failed   " + low +
                                          "\n           reason: the WMA encoder writes at most "
                                          "4096000 bit/s at 8000 Hz with 1 channel, not 5000000\n"))
        << outcome.out;
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
        std::vector<std::string> arguments = {"-j", "1", "--output", folder, first, second};
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
        const std::string partial = folder + "/first.partial.wma";
        EXPECT_TRUE(
            Contains(outcome.out, "  stopped  " + first + " -> " + partial + " (partial)\n"))
            << outcome.out;
        EXPECT_EQ(ReadFile(folder + "/first.wma"), "earlier") << "only a complete file replaces it";
        // Valid up to where it stopped: the header knows the length it has.
        const fixtures::DecodedAudio audio = fixtures::DecodeAudio(partial);
        const double seconds = static_cast<double>(audio.Frames()) / audio.sampleRate;
        EXPECT_GT(seconds, 0.0);
        EXPECT_LT(seconds, 90.0);
        EXPECT_NEAR(fixtures::Probe(partial).durationSeconds, seconds, 0.2);
        // A partial output is not the complete one --skip-existing looks for.
        fs::remove(folder + "/first.wma");
        const Outcome again = Kelvaro(dir_, {"--skip-existing", "-o", folder, first}).Wait();
        EXPECT_TRUE(Contains(again.out, "Summary: 1 file: 1 done, 0 failed\n")) << again.out;
    }
}

TEST_F(CommandLineRun, NamesAreFilesOfTheCurrentFolderWhateverTheyHold)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);  // none may reach it
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener, 4);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string tooLong(252, 'x');  // its ".wma" name has 256 bytes
    const std::string tcp = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const std::vector<std::string> names = {"md5:victim", "tee:victim", "pipe:1", tcp};
    std::vector<std::string> arguments = {tooLong + ".au"};
    for (const std::string& name : names)
        arguments.push_back(name + ".wav");
    for (const std::string& name : arguments)
        fixtures::MakeWav(dir_.File(name), Audio(0.5));
    fixtures::MakeRawFile(dir_.File("victim.wma"), "earlier");
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.Path());
    const Outcome outcome = RunKelvaro(dir_, arguments);
    fs::current_path(previous);
    EXPECT_EQ(outcome.out, "Summary: 5 files: 4 done, 1 failed\n  failed   " + arguments[0] +
                               "\n           reason: Could not open '" + tooLong +
                               ".wma': File name too long\n");
    EXPECT_EQ(ReadFile(dir_.File("victim.wma")), "earlier");
    for (const std::string& name : names)
        EXPECT_TRUE(fs::exists(dir_.File(name + ".wma"))) << name;
    EXPECT_LT(accept(listener, nullptr, nullptr), 0) << "a connection reached the listener";
    close(listener);
}

TEST_F(CommandLineRun, AWalkTakesRegularFilesAndNeverWritesOverOneItWillMeet)
{
    const std::string music = dir_.File("music");
    fs::create_directories(music);
    const std::string mp3 = fixtures::MakeMp3(music + "/track.mp3", Audio(0.5));
    const std::string original = fixtures::MakeWav(music + "/track.wav", Audio(0.3));
    const std::string bytes = ReadFile(original);
    const std::string fifo = music + "/stream.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // nobody writes it
    Outcome outcome = RunKelvaro(dir_, {"-r", "-f", "wav", music});
    EXPECT_EQ(outcome.out, "Summary: 1 file: 0 done, 1 failed\n  failed   " + mp3 +
                               "\n           reason: " + original + " would overwrite the input " +
                               original + "\n");
    EXPECT_TRUE(ReadFile(original) == bytes);
    EXPECT_TRUE(Contains(outcome.err, "kelvaro: skipped 1 entry that is not a regular file"));
    // Over nothing to convert, as cp -r would complain.
    outcome = RunKelvaro(dir_, {"-r", "-o", music, music});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.err, "kelvaro: nothing to convert: no audio file was found\n"));

    // Named, the FIFO is read as a stream, and a stop ends the wait for it.
    Kelvaro named(dir_, {"-o", Out(""), fifo});
    std::this_thread::sleep_for(500ms);
    const auto stop = std::chrono::steady_clock::now();
    named.Signal(SIGINT);
    outcome = named.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 1s);
    EXPECT_TRUE(outcome.out.starts_with("Summary: 1 file: 0 done, 0 failed, 1 stopped\n"))
        << outcome.out;
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

// A tree of oddly named files, the way collections grow: spaces, a leading dash, non-ASCII,
// a line break, upper-case extensions, a hidden folder and files that are not audio.
class OddTree : public CommandLineRun {
protected:
    void SetUp() override
    {
        for (const char* folder : {"music/sub dir/deep", "music/.hidden", "music/-dashed"})
            fs::create_directories(dir_.File(folder));
        const std::string tone = fixtures::MakeWav(dir_.File("tone.wav"), Audio(0.2));
        for (const char* name :
             {"music/a b.wav", "music/sub dir/-lead.WAV", "music/sub dir/deep/ünï 日本.wav",
              "music/-dashed/new\nline.wav", "music/.hidden/x.wav"})
            fs::copy_file(tone, dir_.File(name));
        std::ofstream(dir_.File("music/notes.txt")) << "not audio";
        std::ofstream(dir_.File("music/tune.mid")) << "MThd";
    }
    // Every file beneath `folder`, relative to it, sorted.
    std::vector<std::string> FilesBelow(const std::string& folder) const
    {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir_.File(folder)))
            if (entry.is_regular_file())
                files.push_back(fs::relative(entry.path(), dir_.File(folder)).string());
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(OddTree, RecursionTakesTheAudioFilesAndKeepsTheirPlaceBelowTheFolder)
{
    Outcome outcome = RunKelvaro(
        dir_, {"-r", "-o", Out(""), "--keep-structure", "-f", "wav", dir_.File("music")});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_EQ(FilesBelow("out"),
              (std::vector<std::string>{"-dashed/new\nline.wav", "a b.wav", "sub dir/-lead.wav",
                                        "sub dir/deep/ünï 日本.wav"}));
    EXPECT_TRUE(Contains(outcome.err, "-dashed/new?line.wav\n")) << "one line per file";

    outcome = RunKelvaro(dir_, {"-r", dir_.File("music")});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_EQ(outcome.out, "Summary: 4 files: 4 done, 0 failed\n");
    EXPECT_NEAR(DecodedSeconds(dir_.File("music/sub dir/deep/ünï 日本.wma")), 0.2, 0.1);
    // Again: an output found beside its input may be an original (song.wma beside song.ogg),
    // which a walk never writes over; --skip-existing leaves them quietly.
    outcome = RunKelvaro(dir_, {"-r", "--skip-existing", dir_.File("music/")});
    EXPECT_EQ(outcome.out, "Summary: 4 files: 0 done, 0 failed, 4 skipped\n") << outcome.err;

    // A folder named without --recursive is a failure that says how.
    outcome = RunKelvaro(dir_, {dir_.File("music")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.out,
                         "reason: is a folder; --recursive converts the audio "
                         "files beneath it\n"));
}

TEST_F(OddTree, ListsFromAFileOrStandardInputTakeAnyName)
{
    // As find -print0 writes them, read from standard input.
    std::string list;
    for (const char* name : {"music/a b.wav", "music/sub dir/-lead.WAV",
                             "music/-dashed/new\nline.wav", "music/sub dir/deep/ünï 日本.wav"})
        list += dir_.File(name) + '\0';
    list += dir_.File("music/missing.wav");  // no NUL after the last
    std::ofstream(dir_.File("list0")) << list;
    Outcome outcome = RunKelvaro(dir_,
                                 {"--files-from", "-", "-0", "-o", Out(""), "--keep-structure",
                                  "--report", dir_.File("report.tsv")},
                                 {}, dir_.File("list0"));
    EXPECT_EQ(outcome.status, 1) << outcome.out << outcome.err;
    EXPECT_TRUE(outcome.out.starts_with("Summary: 5 files: 4 done, 1 failed\n")) << outcome.out;
    // Each at its own path less the leading "/", as tar keeps names.
    const std::string below = dir_.File("music").substr(1);
    EXPECT_TRUE(fs::exists(Out(below + "/-dashed/new\nline.wma")));
    EXPECT_TRUE(fs::exists(Out(below + "/sub dir/deep/ünï 日本.wma")));
    const std::string report = ReadFile(dir_.File("report.tsv"));
    EXPECT_TRUE(
        report.starts_with("input\toutput\tstatus\taudio_seconds\tseconds_taken\t"
                           "reason\n"));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 6) << report;
    EXPECT_TRUE(Contains(
        report, "/-dashed/new\\nline.wav\t" + Out(below) + "/-dashed/new\\nline.wma\tdone\t0."))
        << report;
    // Seconds taken: the time its open took.
    EXPECT_TRUE(Contains(report, "/music/missing.wma\tfailed\t0.000\t0.0")) << report;
    EXPECT_TRUE(
        Contains(report, "\t" + dir_.File("music/missing.wav") + ": no such file or directory\n"));

    // Newline-separated, from a file, with a folder walked.
    std::ofstream(dir_.File("list")) << dir_.File("music/a b.wav") << "\n\n"
                                     << dir_.File("music/sub dir") << "\n";
    outcome =
        RunKelvaro(dir_, {"--files-from", dir_.File("list"), "-r", "-f", "wav", "-o", Out("flat")});
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_EQ(FilesBelow("out/flat"),
              (std::vector<std::string>{"-lead.wav", "a b.wav", "ünï 日本.wav"}));

    // A list in a file is read at once: an output over a file listed later is refused as
    // it would be on the command line, and that file stays as it was.
    const std::string take = fixtures::MakeFlac(dir_.File("music/take.flac"), Audio(0.2));
    std::ofstream(dir_.File("music/take.wav")) << "an earlier take";
    std::ofstream(dir_.File("list2")) << take << "\n" << dir_.File("music/take.wav") << "\n";
    outcome = RunKelvaro(dir_, {"--files-from", dir_.File("list2"), "-f", "wav"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.out, "reason: " + dir_.File("music/take.wav") +
                                          " would overwrite the input " +
                                          dir_.File("music/take.wav") + "\n"))
        << outcome.out;
    EXPECT_EQ(ReadFile(dir_.File("music/take.wav")), "an earlier take");
}

TEST_F(CommandLineRun, SkipExistingResumesAnInterruptedRunAndReportsEachFile)
{
    const std::string first = fixtures::MakeWav(dir_.File("first.wav"), Audio(0.3));
    const std::string second = fixtures::MakeWav(dir_.File("second.wav"), Audio(90));
    const std::string third = fixtures::MakeWav(dir_.File("third.wav"), Audio(0.3));
    const std::vector<std::string> arguments = {
        "-j",  "1",    "-o", Out(""), "--skip-existing", "--report", dir_.File("report.tsv"),
        first, second, third};
    Kelvaro interrupted(dir_, arguments);
    ASSERT_TRUE(WaitForWriting(Out("")));
    interrupted.Signal(SIGTERM);
    Outcome outcome = interrupted.Wait();
    EXPECT_EQ(outcome.status, 128 + SIGTERM);
    EXPECT_EQ(outcome.out,
              "Summary: 3 files: 1 done, 0 failed, 2 stopped\n"
              "  stopped  " +
                  second +
                  " (no output kept)\n"
                  "  stopped  " +
                  third + " (no output kept)\n");
    std::string report = ReadFile(dir_.File("report.tsv"));
    EXPECT_TRUE(Contains(report, first + "\t" + Out("first.wma") + "\tdone\t0.3")) << report;
    EXPECT_TRUE(Contains(report, third + "\t" + Out("third.wma") + "\tstopped\t0.000\t0.000\t\n"));
    const auto firstWritten = fs::last_write_time(Out("first.wma"));

    outcome = RunKelvaro(dir_, arguments);
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_EQ(outcome.out, "Summary: 3 files: 2 done, 0 failed, 1 skipped\n");
    EXPECT_FALSE(Contains(outcome.err, "skipped")) << "counted, not listed";
    EXPECT_EQ(fs::last_write_time(Out("first.wma")), firstWritten) << "left alone";
    EXPECT_NEAR(fixtures::Probe(Out("second.wma")).durationSeconds, 90, 0.2);
    report = ReadFile(dir_.File("report.tsv"));
    EXPECT_TRUE(Contains(
        report, first + "\t" + Out("first.wma") + "\tskipped\t0.000\t0.000\tits output exists\n"));
    EXPECT_TRUE(Contains(report, second + "\t" + Out("second.wma") + "\tdone\t90.")) << report;
}

TEST_F(CommandLineRun, LibraryMessagesNameTheirFileAlsoWhileItOpensAndWarningsWaitToBeAskedFor)
{
    std::string junk(6000, '\0');
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>((i * 7919 + 13) % 251);
    const std::string input = fixtures::MakeRawFile(dir_.File("junk.mp3"), junk);
    Outcome outcome = RunKelvaro(dir_, {"--log-level", "warning", input});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(Contains(outcome.err, "junk.mp3: Format mp3 detected only with low score of "))
        << outcome.err;
    EXPECT_TRUE(Contains(outcome.err, "junk.mp3: [mp3 @ ")) << "and while it is read";
    EXPECT_TRUE(Contains(outcome.err, "failed   " + input + ": not an audio file Kelvaro can read"))
        << "the file named once";
    outcome = RunKelvaro(dir_, {input});
    EXPECT_FALSE(Contains(outcome.err, "detected only with low score")) << outcome.err;
}

// Runs the program with its standard error on a terminal `columns` wide; what it drew.
std::string DrawnOnATerminal(const std::vector<std::string>& arguments, const std::string& term,
                             int columns)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return "no terminal";
    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = 24;
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ioctl(slave, TIOCSWINSZ, &size);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> all = {KELVARO_CLI};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::string variable = "TERM=" + term;
    char* envp[] = {variable.data(), nullptr};
    pid_t pid = -1;
    posix_spawn(&pid, KELVARO_CLI, &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    close(slave);
    std::string drawn;
    char buffer[4096];
    ssize_t got;
    // Ends with an error once the program has closed its side.
    while ((got = read(master, buffer, sizeof buffer)) > 0)
        drawn.append(buffer, static_cast<size_t>(got));
    waitpid(pid, nullptr, 0);
    close(master);
    return drawn;
}

TEST_F(CommandLineRun, ProgressIsRedrawnOnlyOnATerminalThatCanAndNeverWiderThanIt)
{
    const std::string name =
        dir_.File("a rather long name of a file, longer than the terminal.wav");
    const std::string input = fixtures::MakeWav(name, Audio(120));
    std::string drawn = DrawnOnATerminal({"-o", Out(""), input}, "xterm", 30);
    EXPECT_TRUE(Contains(drawn, "\x1b[J")) << drawn;
    EXPECT_TRUE(Contains(drawn, "1/1 files")) << drawn;
    // Each line, its escape sequences taken out, fits in 29 columns.
    std::string line;
    for (size_t i = 0; i < drawn.size(); ++i) {
        if (drawn[i] == '\x1b') {
            while (i < drawn.size() && !std::isalpha(static_cast<unsigned char>(drawn[i])))
                ++i;
        } else if (drawn[i] == '\n' || drawn[i] == '\r') {
            // The line of an ended file scrolls away whole; only the redrawn lines are cut.
            if (!line.starts_with("done ")) {
                EXPECT_LE(line.size(), 29u) << line;
            }
            line.clear();
        } else {
            line += drawn[i];
        }
    }
    drawn = DrawnOnATerminal({"-o", Out(""), input}, "dumb", 30);
    EXPECT_FALSE(Contains(drawn, "\x1b")) << drawn;
    EXPECT_TRUE(Contains(drawn, "done     " + name)) << drawn;
}

// The recipe for several machines, with this machine as two: chunks of a NUL-separated list
// run as separate programs, then one summary and one exit status from their reports.
TEST_F(OddTree, AListSpreadOverWorkersInChunksGivesOneSummaryAndResumes)
{
    if (std::system("parallel --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU parallel is not installed";
    const std::string broken = fixtures::MakeRawFile(dir_.File("music/broken.mp3"), "no audio");
    std::string list;
    for (const char* name : {"music/a b.wav", "music/sub dir/-lead.WAV", "music/broken.mp3",
                             "music/-dashed/new\nline.wav", "music/sub dir/deep/ünï 日本.wav"})
        list += dir_.File(name) + '\0';
    std::ofstream(dir_.File("list0")) << list;
    const std::vector<std::string> arguments = {"--hosts",
                                                ":",
                                                "--jobs-per-host",
                                                "2",
                                                "--chunk",
                                                "2",
                                                "--null",
                                                "--kelvaro",
                                                KELVARO_CLI,
                                                "--output",
                                                Out(""),
                                                "--reports",
                                                dir_.File("runs"),
                                                dir_.File("list0"),
                                                "--",
                                                "-f",
                                                "wav"};
    Outcome outcome = RunKelvaro(dir_, arguments, {}, {}, KELVARO_PARALLEL);
    EXPECT_EQ(outcome.status, 1) << outcome.out << outcome.err;
    EXPECT_TRUE(outcome.out.starts_with("Summary: 5 files: 4 done, 1 failed\n  failed   " + broken +
                                        "\n           reason: not an audio file Kelvaro can read"))
        << outcome.out << outcome.err;
    const std::string below = dir_.File("music").substr(1);
    EXPECT_NEAR(fixtures::Probe(Out(below + "/-dashed/new\nline.wav")).durationSeconds, 0.2, 0.05);
    EXPECT_TRUE(fs::exists(Out(below + "/sub dir/deep/ünï 日本.wav")));
    EXPECT_TRUE(fs::exists(dir_.File("runs/chunk-3.tsv"))) << "five files in chunks of two";
    EXPECT_FALSE(fs::exists(dir_.File("runs/chunk-4.tsv")));
    const std::string report = ReadFile(dir_.File("runs/report.tsv"));
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 6) << report;

    outcome = RunKelvaro(dir_, arguments, {}, {}, KELVARO_PARALLEL);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.out.starts_with("Summary: 5 files: 0 done, 1 failed, 4 skipped\n"))
        << outcome.out;
}

TEST_F(CommandLineRun, AVideoTargetKeepsThePictureInTheTargetsOwnFormat)
{
    fixtures::VideoSpec video;
    video.seconds = 1.0;
    const std::string avi = fixtures::MakeAviMpeg4Mp3(dir_.File("clip.avi"), video, Audio(1.0));
    const std::string mp3 = fixtures::MakeMp3(dir_.File("song.mp3"), Audio(1.0));
    struct Case {
        std::vector<std::string> target;
        std::string output, videoCodec, audioCodec;
        int width, height;
    };
    const Case cases[] = {
        {{"--target", "dvd"}, "clip.mpg", "mpeg2video", "ac3", 720, 576},
        {{"--target", "vcd", "--norm", "ntsc"}, "clip.mpg", "mpeg1video", "mp2", 352, 240},
        {{"--target", "dv"}, "clip.dv", "dvvideo", "pcm_s16le", 720, 576},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target[1]);
        std::vector<std::string> arguments = c.target;
        const std::string folder = dir_.File("out-" + c.target[1]);
        arguments.insert(arguments.end(), {"-o", folder, avi});
        const Outcome outcome = RunKelvaro(dir_, arguments);
        ASSERT_EQ(outcome.status, 0) << outcome.out << outcome.err;
        const fixtures::MediaInfo info = fixtures::Probe(folder + "/" + c.output);
        std::vector<fixtures::StreamInfo> video, audio;
        for (const fixtures::StreamInfo& stream : info.streams)
            (stream.type == "video" ? video : audio).push_back(stream);
        ASSERT_EQ(video.size(), 1u);
        EXPECT_EQ(video[0].codec, c.videoCodec);
        EXPECT_EQ(video[0].width, c.width);
        EXPECT_EQ(video[0].height, c.height);
        ASSERT_GE(audio.size(), 1u) << "a DVD also carries its navigation packets";
        EXPECT_EQ(audio.back().codec, c.audioCodec);
    }
    // Without pictures the norm cannot be guessed from them: the usual one serves.
    const Outcome audioOnly = RunKelvaro(dir_, {"--target", "dvd", "-o", dir_.File("sound"), mp3});
    ASSERT_EQ(audioOnly.status, 0) << audioOnly.out << audioOnly.err;
    const fixtures::MediaInfo info = fixtures::Probe(dir_.File("sound/song.mpg"));
    ASSERT_FALSE(info.streams.empty());
    EXPECT_EQ(info.streams.back().codec, "ac3");
    for (const fixtures::StreamInfo& stream : info.streams)
        EXPECT_NE(stream.type, "video");
}

}  // namespace
}  // namespace kelvaro
