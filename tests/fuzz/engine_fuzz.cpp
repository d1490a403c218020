// A deterministic mutation runner for the engine: every input goes through the job's open and
// a whole transcode to WMA and to WAV, as the converter drives them, and mutated inputs also
// through a video conversion that scales and pads their pictures. First the regression
// corpus (hostile and broken inputs found before, each with the outcome it must have), then
// mutations of the seed corpus (the fixture library's files) until the time budget is spent.
// Built with the address and undefined-behaviour sanitizers, a crash, a leak or undefined
// behaviour ends the run; the runner itself reports outcomes that break the engine's
// contract: an exception other than FFMpegException, a conversion that does not end, or a
// regression case whose outcome changed. See README.md beside this file.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/job.h"
#include "engine/logging.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_functions.h"
#include "medialib/media_loader.h"

namespace kelvaro::fuzz {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace fixtures;

// Under the sanitizers a second of audio converts in well under a second; far more than that
// means the engine is stuck on the input.
constexpr auto kConversionDeadline = 20s;

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string LittleEndian(uint32_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; ++i)
        text += static_cast<char>((value >> (8 * i)) & 0xff);
    return text;
}

// xorshift64*: the same seed gives the same mutations on every machine.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    uint64_t Next()
    {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 2685821657736338717ull;
    }
    size_t Below(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(Next() % bound); }

private:
    uint64_t state_;
};

// Positions in the headers are where most parsers decide; half the mutations go there.
size_t Position(Random& random, const std::string& bytes)
{
    const size_t header = std::min<size_t>(bytes.size(), 1024);
    return random.Below(2) == 0 ? random.Below(header) : random.Below(bytes.size());
}

std::string Mutate(std::string bytes, Random& random)
{
    static const uint32_t kInteresting[] = {0,          1,          0x7f,       0x80,
                                            0xff,       0x7fff,     0x8000,     0xffff,
                                            0x7fffffff, 0x80000000, 0xffffffff, 1073763874};
    const size_t operations = 1 + random.Below(4);
    for (size_t n = 0; n < operations && !bytes.empty(); ++n) {
        const size_t at = Position(random, bytes);
        switch (random.Below(7)) {
            case 0:
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << random.Below(8)));
                break;
            case 1:
                bytes[at] = static_cast<char>(kInteresting[random.Below(5)]);
                break;
            case 2: {
                const std::string value = LittleEndian(kInteresting[random.Below(12)], 4);
                bytes.replace(at, std::min<size_t>(4, bytes.size() - at), value);
                break;
            }
            case 3:
                bytes.erase(at, 1 + random.Below(std::min<size_t>(64, bytes.size() - at)));
                break;
            case 4: {
                const size_t length = 1 + random.Below(std::min<size_t>(256, bytes.size() - at));
                bytes.insert(Position(random, bytes), bytes.substr(at, length));
                break;
            }
            case 5:
                bytes.resize(at);
                break;
            default:
                bytes.insert(at, 1 + random.Below(16), static_cast<char>(random.Next()));
                break;
        }
    }
    return bytes;
}

// MP3 and FLAC also carry the input's tags and cover, through TagLib reading a mutated file.
enum class Target { Wma, Wav, Mp3, Flac, Video };

const char* TargetName(Target target)
{
    static const char* const kNames[] = {"wma", "wav", "mp3", "flac", "video"};
    return kNames[static_cast<int>(target)];
}

struct Outcome {
    bool opened = false;
    bool finished = false;
    std::string error;    // LastError of the open, or the transcode's failure
    std::string warning;  // of a finished run
    std::string finding;  // what broke the engine's contract; empty when nothing did
};

// One conversion as the converter sets it up, on a worker, with a deadline.
Outcome Convert(const std::string& input, const std::string& output, Target target)
{
    std::mutex codecLock;
    TCustomFFmpegHlpr job(codecLock);
    job.Reset();
    job.SetLogLevel(-1);
    Outcome outcome;
    try {
        outcome.opened = job.OpenInputFile(input);
        if (!outcome.opened) {
            outcome.error = job.LastError;
            return outcome;
        }
        if (target == Target::Video) {
            // Every picture is scaled and padded: the path that sizes buffers from the input.
            job.SetVideoCodec("mpeg4");
            job.SetFrameSize("176x128");
            job.SetPadTop(8);
            job.SetPadBottom(8);
        } else if (target == Target::Wma) {
            job.VideoDisable = 1;
            job.SetAudioCodec("wmav2");
            job.SetOption("ab", "128000");
        } else if (target == Target::Mp3) {
            job.VideoDisable = 1;
            job.SetAudioCodec("libmp3lame");
            job.SetAudioQuality(2);
            job.SetAudioChannels(2);
            job.SetAudioSampleRate(44100);
            job.AddTagCopyMap(0, 0);
        } else if (target == Target::Flac) {
            job.VideoDisable = 1;
            job.SetAudioSampleBits(24);
            job.AddTagCopyMap(0, 0);
        } else {
            job.VideoDisable = 1;
            job.SetOutputFormat("wav");
        }
        if (!job.OpenOutputFile(output)) {
            outcome.error = job.LastError;
            return outcome;
        }
        std::mutex mutex;
        std::condition_variable ended;
        bool terminated = false;
        job.TerminateHandler = [&](TCustomFFmpegHlpr&) {
            std::lock_guard lock(mutex);
            terminated = true;
            ended.notify_all();
        };
        job.StartTranscode(true, tpNormal);
        std::unique_lock lock(mutex);
        if (!ended.wait_for(lock, kConversionDeadline, [&] { return terminated; })) {
            outcome.finding = "the conversion did not end";
            job.RequestStop();
            if (!ended.wait_for(lock, 2s, [&] { return terminated; }))
                outcome.finding += ", and a stop did not end it within two seconds";
            ended.wait(lock, [&] { return terminated; });
        }
    } catch (const FFMpegException& error) {
        outcome.error = error.what();
    } catch (const std::exception& error) {
        outcome.finding = std::string("an exception that is not the engine's: ") + error.what();
    }
    job.StopAndWait();
    outcome.finished = job.Finished;
    if (outcome.error.empty())
        outcome.error = job.TranscodeError;
    outcome.warning = job.TranscodeWarning;
    return outcome;
}

struct RegressionCase {
    std::string name;  // the file name it is written under
    std::string bytes;
    // Judges the outcome of each target; returns what is wrong, empty when right.
    std::function<std::string(const Outcome&, const std::string& path)> expect;
};

std::string Expect(bool holds, const std::string& what)
{
    return holds ? std::string() : what;
}

// The cases of the hostile and broken inputs fixed so far, with the outcome each must keep.
std::vector<RegressionCase> RegressionCorpus(const std::string& folder)
{
    AudioSpec tone;
    tone.sampleRate = 8000;
    tone.channels = 1;
    tone.seconds = 1.0;
    const std::string secret = MakeWav(folder + "/secret.wav", tone);
    const std::string wav = ReadBytes(secret);
    const auto refused = [](const Outcome& outcome, const std::string& path) {
        return Expect(outcome.error == path + ": playlists and reference files are not converted",
                      "not refused as a playlist: " + outcome.error);
    };
    const auto converted = [](const Outcome& outcome, const std::string&) {
        return Expect(outcome.finished && outcome.warning.empty(),
                      "not converted: " + outcome.error + outcome.warning);
    };
    std::vector<RegressionCase> cases = {
        {"list.m3u8",
         "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\n" + secret + "\n#EXT-X-ENDLIST\n",
         refused},
        {"song.mp3", "ffconcat version 1.0\nfile '" + secret + "'\n", refused},
        {"01:intro.wav", wav, converted},
        {"absurd.wav", WavHeader(1073763874, 2, 4096) + std::string(4096, '\0'),
         [](const Outcome& outcome, const std::string&) {
             return Expect(
                 outcome.error.find("has a sample rate of 1073763874 Hz") != std::string::npos,
                 "absurd rate not refused: " + outcome.error);
         }},
        {"manychannels.wav", WavHeader(44100, 65, 4096) + std::string(4096, '\0'),
         [](const Outcome& outcome, const std::string&) {
             return Expect(outcome.error.find("has 65 channels") != std::string::npos,
                           "65 channels not refused: " + outcome.error);
         }},
        {"nochannels.wav", WavHeader(44100, 0, 4096) + std::string(4096, '\0'),
         [](const Outcome& outcome, const std::string&) {
             return Expect(!outcome.finished, "converted without channels");
         }},
        {"header-only.wav", WavHeader(44100, 2, 0),
         [](const Outcome& outcome, const std::string& path) {
             return Expect(outcome.error == path +
                                                ": no audio could be converted: the input "
                                                "holds none",
                           "an empty input was not a failure: " + outcome.error);
         }},
        // Its 10th packet stamped 80 ms early, which the WMA muxer once refused.
        {"stepback.flv", ReadBytes(MakeFlvWithStepBack(folder + "/stepback.flv", 10, 80)),
         converted},
        {"garbage.wav", std::string(8192, '\x5a'),
         [](const Outcome& outcome, const std::string&) {
             return Expect(!outcome.opened, "garbage was opened");
         }},
    };
    return cases;
}

std::vector<std::string> SeedCorpus(const std::string& folder)
{
    // Short files: the mutations, not the length, find the faults (the set needs a second
    // for its two subtitle cues).
    const SampleSet set = MakeSampleSet(folder, 1.0);
    AudioSpec mono;
    mono.sampleRate = 22050;
    mono.channels = 1;
    mono.seconds = 0.4;
    return {set.wav,
            set.mp3,
            set.flac,
            set.ogg,
            set.m4a,
            set.wma,
            set.mpg,
            set.avi,
            set.mkv,
            MakeWav(folder + "/mono.wav", mono),
            MakeMp3(folder + "/mono.mp3", mono)};
}

struct Options {
    double seconds = 60;
    uint64_t seed = 1;
    std::string keep;  // folder that receives every input with a finding
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            return false;
        const std::string value = argv[++i];
        if (name == "--seconds")
            options.seconds = std::stod(value);
        else if (name == "--seed")
            options.seed = std::stoull(value);
        else if (name == "--keep")
            options.keep = value;
        else
            return false;
    }
    return true;
}

class Runner {
public:
    Runner(const Options& options, const std::string& folder) : options_(options), folder_(folder)
    {
    }

    // The targets of one input (the regression cases, which the judge knows, are converted
    // as the converter does); every finding is reported and the input kept.
    void RunInput(const std::string& path, const std::function<std::string(const Outcome&)>& judge)
    {
        const std::vector<Target> targets =
            judge ? std::vector{Target::Wma, Target::Wav}
                  : std::vector{Target::Wma, Target::Wav, Target::Mp3, Target::Flac, Target::Video};
        // Names without a folder, some like URLs: each a file of the current folder, no more.
        static const char* const kOutputNames[] = {"out.",     "md5:out.",  "pipe:1.",
                                                   "tee:out.", "file:out.", "tcp:127.0.0.1:9:out."};
        for (Target target : targets) {
            const std::string output = std::string(kOutputNames[runs_ % std::size(kOutputNames)]) +
                                       (target == Target::Video ? "nut" : TargetName(target));
            Outcome outcome = Convert(path, output, target);
            if (outcome.finished && outcome.finding.empty() && !fs::exists(output))
                outcome.finding = "the output did not reach its own name " + output;
            std::error_code ignored;
            fs::remove(output, ignored);
            ++runs_;
            ++outcomes_[!outcome.opened            ? "refused at open"
                        : !outcome.finding.empty() ? "finding"
                        : !outcome.finished        ? "failed"
                        : !outcome.warning.empty() ? "done with a warning"
                                                   : "done"];
            std::string finding = outcome.finding;
            if (finding.empty() && judge)
                finding = judge(outcome);
            if (!finding.empty())
                Report(path, target, finding);
        }
    }

    int Findings() const { return findings_; }
    void PrintSummary() const
    {
        std::printf("%d conversions:", runs_);
        for (const auto& [kind, count] : outcomes_)
            std::printf(" %s %d;", kind.c_str(), count);
        std::printf(" findings %d\n", findings_);
    }

private:
    void Report(const std::string& path, Target target, const std::string& finding)
    {
        ++findings_;
        std::printf("FINDING (%s) %s: %s\n", TargetName(target), path.c_str(), finding.c_str());
        if (!options_.keep.empty()) {
            fs::create_directories(options_.keep);
            const std::string kept = options_.keep + "/finding-" + std::to_string(findings_) + "-" +
                                     fs::path(path).filename().string();
            std::error_code ignored;
            fs::copy_file(path, kept, fs::copy_options::overwrite_existing, ignored);
        }
        std::fflush(stdout);
    }

    const Options& options_;
    std::string folder_;
    int runs_ = 0;
    int findings_ = 0;
    std::map<std::string, int> outcomes_;
};

int Main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: kelvaro_fuzz [--seconds N] [--seed N] [--keep FOLDER]\n");
        return 2;
    }
    if (!LoadMediaLibraries("", true)) {
        std::fprintf(stderr, "kelvaro_fuzz: %s\n", LoadError().c_str());
        return 1;
    }
    avutil.av_log_set_callback(LibraryLogCallback);
    const TempDir temp;
    const std::string folder = temp.Path();
    Runner runner(options, folder);

    // Names are relative to the folder, as a user's files are to theirs: a colon in a name
    // must stay part of the name.
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    for (const RegressionCase& regression : RegressionCorpus(folder)) {
        WriteBytes("./" + regression.name, regression.bytes);
        runner.RunInput(regression.name, [&](const Outcome& outcome) {
            return regression.expect(outcome, regression.name);
        });
    }
    fs::current_path(previous);

    const std::vector<std::string> seeds = SeedCorpus(folder + "/seeds");
    std::vector<std::string> seedBytes;
    for (const std::string& seed : seeds)
        seedBytes.push_back(ReadBytes(seed));
    Random random(options.seed);
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(options.seconds));
    for (uint64_t n = 0; Clock::now() < deadline; ++n) {
        const size_t which = random.Below(seeds.size());
        const std::string path = folder + "/mutant" + fs::path(seeds[which]).extension().string();
        WriteBytes(path, Mutate(seedBytes[which], random));
        runner.RunInput(path, {});
    }
    runner.PrintSummary();
    return runner.Findings() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kelvaro::fuzz

int main(int argc, char** argv)
{
    return kelvaro::fuzz::Main(argc, argv);
}
