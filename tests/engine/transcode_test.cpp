#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "engine/job.h"
#include "engine/transcode_state.h"
#include "engine_conversion.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using namespace fixtures;
using namespace std::chrono_literals;

enum class Target { Wma, Wav };

struct Progress {
    int32_t frameNumber, fps, durationTime;
    float quality, bitRate;
    int64_t currentSize;
    int32_t totalDuration;
    std::chrono::steady_clock::time_point at;
};

// One job converting one input, as the converter sets it up for its two targets.
class Conversion : public test::EngineConversion {
public:
    using EngineConversion::EngineConversion;

    // `configure` runs between the two opens, where the output settings go.
    bool Open(const std::string& input, const std::string& output, Target target,
              const std::function<void(TCustomFFmpegHlpr&)>& configure = {})
    {
        return EngineConversion::Open(input, output, [&](TCustomFFmpegHlpr& job) {
            if (configure)
                configure(job);
            job.VideoDisable = 1;
            if (target == Target::Wma) {
                job.SetAudioCodec("wmav2");
                job.SetOption("ab", "128000");
            } else {
                job.SetOutputFormat("wav");
            }
        });
    }
    void WatchProgress()
    {
        Job().ProgressHandler = [this](TCustomFFmpegHlpr&, int32_t frame, int32_t fps,
                                       int32_t duration, float quality, float bitRate, int64_t size,
                                       int32_t total) {
            progress.push_back({frame, fps, duration, quality, bitRate, size, total,
                                std::chrono::steady_clock::now()});
        };
    }
    std::vector<std::string> LogTexts(int level) const
    {
        std::vector<std::string> texts;
        for (const auto& [lineLevel, text] : log)
            if (lineLevel == level)
                texts.push_back(text);
        return texts;
    }

    std::vector<Progress> progress;
};

AudioSpec Tone(int rate, int channels, double seconds)
{
    AudioSpec audioSpec;
    audioSpec.sampleRate = rate;
    audioSpec.channels = channels;
    audioSpec.seconds = seconds;
    return audioSpec;
}

// What the wmav2 encoder takes at a time, by sample rate.
size_t WmaFrameSize(int rate)
{
    return rate <= 16000 ? 512 : rate <= 22050 ? 1024 : 2048;
}

// The longest a WMA of `frames` may decode to: whole encoder frames, and one more that carries
// the last frame's sound out of the decoder.
size_t WmaLimit(size_t frames, int rate)
{
    const size_t frameSize = WmaFrameSize(rate);
    return (frames + frameSize - 1) / frameSize * frameSize + frameSize;
}

// 20000 frames with clicks near both ends and in between.
AudioSpec ClickTrain(int rate, int channels)
{
    AudioSpec audioSpec = Tone(rate, channels, 20000.0 / rate);
    audioSpec.signal = Signal::Clicks;
    audioSpec.amplitude = 0.8;
    audioSpec.clickFrames = {10, 1000, 3000, 10000, 19990};
    return audioSpec;
}

std::string FileStart(const std::string& path, size_t bytes)
{
    std::ifstream in(path, std::ios::binary);
    std::string start(bytes, '\0');
    in.read(start.data(), static_cast<std::streamsize>(bytes));
    return start;
}

class Transcode : public ::testing::Test {
protected:
    void SetUp() override { test::LoadMediaLibrariesForTest(); }
    std::string File(const std::string& name) { return folder_.File(name); }

    TempDir folder_;
    std::mutex lock_;
};

TEST_F(Transcode, EveryInputFormatConvertsToWmaAndWavAtItsOwnRateAndChannels)
{
    const AudioSpec stereo = Tone(44100, 2, 1.5);
    const AudioSpec mono = Tone(22050, 1, 1.5);
    VideoSpec video;
    video.seconds = 1.5;
    const std::string mpg = MakeMpegPs(File("in.mpg"), video, stereo);
    const std::string dat = File("AVSEQ01.DAT");
    fs::copy_file(mpg, dat);
    const std::vector<std::string> inputs = {
        MakeWav(File("in.wav"), mono),
        MakeMp3(File("in.mp3"), Tone(48000, 2, 1.5)),
        MakeFlac(File("in.flac"), stereo),
        MakeOggVorbis(File("in.ogg"), mono),
        MakeAacM4a(File("in.m4a"), stereo),
        MakeWma(File("in.wma"), stereo),
        mpg,
        dat,
        MakeAviMpeg4Mp3(File("in.avi"), video, stereo),
        MakeMkvWithSubtitles(File("in.mkv"), stereo, {{0.2, 0.8, "subtitle"}}),
    };
    for (const std::string& input : inputs) {
        const DecodedAudio source = DecodeAudio(input);
        for (Target target : {Target::Wma, Target::Wav}) {
            const std::string output =
                File(fs::path(input).filename().string() + (target == Target::Wma ? ".wma" : ".wav"));
            SCOPED_TRACE(output);
            Conversion conversion(lock_);
            if (fs::path(input).extension() == ".DAT")
                conversion.Job().SetInputFormat("mpeg");
            ASSERT_TRUE(conversion.Open(input, output, target)) << conversion.error;
            ASSERT_TRUE(conversion.Run()) << conversion.error;
            EXPECT_EQ(conversion.Job().TranscodeWarning, "") << "a whole input is a plain success";

            const MediaInfo info = Probe(output);
            ASSERT_EQ(info.streams.size(), 1u);
            EXPECT_EQ(info.streams[0].codec, target == Target::Wma ? "wmav2" : "pcm_s16le");
            EXPECT_EQ(info.streams[0].sampleRate, source.sampleRate);
            EXPECT_EQ(info.streams[0].channels, source.channels);
            const DecodedAudio result = DecodeAudio(output);
            if (target == Target::Wma) {
                EXPECT_EQ(info.streams[0].bitRate, 128000);
                // Every sample of the input, at most one encoder frame more.
                EXPECT_GE(result.Frames(), source.Frames());
                EXPECT_LE(result.Frames(), WmaLimit(source.Frames(), source.sampleRate));
                EXPECT_EQ(ReadStreamPackets(output, 0).front().ptsSeconds, 0.0)
                    << "whatever the source decoder's delay";
            } else {
                EXPECT_EQ(result.samples, source.samples) << "the input's own decode";
                EXPECT_EQ(FileStart(output, 4), "RIFF") << "RF64 only when it needs to be";
            }
        }
    }
}

TEST_F(Transcode, LosslessInputsGiveTheSameSamplesInWav)
{
    const AudioSpec audioSpec = Tone(48000, 2, 1.0);
    for (const std::string& input :
         {MakeWav(File("in.wav"), audioSpec), MakeFlac(File("in.flac"), audioSpec)}) {
        SCOPED_TRACE(input);
        const std::string output = input + ".out.wav";
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Open(input, output, Target::Wav)) << conversion.error;
        ASSERT_TRUE(conversion.Run()) << conversion.error;
        EXPECT_EQ(DecodeAudio(output).samples, GenerateSamples(audioSpec));
    }
}

TEST_F(Transcode, WmaKeepsTheSoundAndRoundTripsThroughWav)
{
    AudioSpec audioSpec = Tone(44100, 2, 2.0);
    audioSpec.signal = Signal::Speech;
    const std::string wav = MakeWav(File("speech.wav"), audioSpec);
    Conversion toWma(lock_);
    ASSERT_TRUE(toWma.Open(wav, File("speech.wma"), Target::Wma));
    ASSERT_TRUE(toWma.Run()) << toWma.error;
    const DecodedAudio wma = DecodeAudio(File("speech.wma"));
    // Measured 12 to 13 dB for speech-like noise at 128 kbit/s; a broken channel order,
    // rate or sample format falls far below.
    EXPECT_GT(SnrDb(GenerateSamples(audioSpec), wma.samples, 2, 0), 9.0);

    Conversion back(lock_);
    ASSERT_TRUE(back.Open(File("speech.wma"), File("back.wav"), Target::Wav));
    ASSERT_TRUE(back.Run()) << back.error;
    EXPECT_EQ(DecodeAudio(File("back.wav")).samples, wma.samples) << "WAV keeps what WMA held";

    const AudioSpec tone = Tone(44100, 2, 2.0);
    Conversion toneToWma(lock_);
    ASSERT_TRUE(toneToWma.Open(MakeWav(File("tone.wav"), tone), File("tone.wma"), Target::Wma));
    ASSERT_TRUE(toneToWma.Run());
    const DecodedAudio toneWma = DecodeAudio(File("tone.wma"));
    EXPECT_GT(SnrDb(GenerateSamples(tone), toneWma.samples, 2, 0), 35.0);  // measured 51 dB
    EXPECT_NEAR(DominantFrequency(toneWma.samples, 2, 0, 44100), 440.0, 1.0);
    EXPECT_NEAR(DominantFrequency(toneWma.samples, 2, 1, 44100), 550.0, 1.0);
}

TEST_F(Transcode, WmaCoversTheWholeInputEvenWhenItEndsInsideAFrame)
{
    // 131072 samples are 64 whole frames; 131072 + 1000 end inside the 65th.
    for (int frames : {131072, 131072 + 1000}) {
        AudioSpec audioSpec = Tone(44100, 1, frames / 44100.0);
        const std::string input = MakeWav(File(std::to_string(frames) + ".wav"), audioSpec);
        ASSERT_EQ(DecodeAudio(input).Frames(), static_cast<size_t>(frames));
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Open(input, input + ".wma", Target::Wma));
        ASSERT_TRUE(conversion.Run()) << conversion.error;
        const DecodedAudio result = DecodeAudio(input + ".wma");
        EXPECT_GE(result.Frames(), static_cast<size_t>(frames)) << "audio lost at the end";
        EXPECT_LE(result.Frames(), WmaLimit(static_cast<size_t>(frames), 44100));
    }
}

TEST_F(Transcode, WmaKeepsEveryClickAtItsPlace)
{
    for (int rate : {44100, 22050, 8000}) {
        for (int channels : {1, 2}) {
            const AudioSpec clicks = ClickTrain(rate, channels);
            const std::string name = File(std::to_string(rate) + "-" + std::to_string(channels));
            SCOPED_TRACE(name);
            Conversion conversion(lock_);
            ASSERT_TRUE(
                conversion.Open(MakeWav(name + ".wav", clicks), name + ".wma", Target::Wma));
            ASSERT_TRUE(conversion.Run()) << conversion.error;
            const DecodedAudio result = DecodeAudio(name + ".wma");
            for (int channel = 0; channel < channels; ++channel)
                EXPECT_EQ(FindClicks(result.samples, channels, channel), clicks.clickFrames)
                    << "channel " << channel;
            EXPECT_LE(result.Frames(), WmaLimit(20000, rate));
        }
    }
}

TEST_F(Transcode, AWmaSourceConvertsWithoutShiftAndItsOutputsStartAtZero)
{
    const AudioSpec clicks = ClickTrain(44100, 2);
    const std::string source = MakeWma(File("source.wma"), clicks);
    const DecodedAudio decoded = DecodeAudio(source);
    ASSERT_EQ(FindClicks(decoded.samples, 2, 0), clicks.clickFrames);

    Conversion again(lock_);
    ASSERT_TRUE(again.Open(source, File("again.wma"), Target::Wma));
    ASSERT_TRUE(again.Run()) << again.error;
    EXPECT_EQ(FindClicks(DecodeAudio(File("again.wma")).samples, 2, 0), clicks.clickFrames);
    EXPECT_EQ(ReadStreamPackets(File("again.wma"), 0).front().ptsSeconds, 0.0);

    // Matroska keeps whatever times it is given: the decoder's delay must not show in them.
    Conversion pcm(lock_);
    ASSERT_TRUE(pcm.Job().OpenInputFile(source));
    pcm.Job().SetAudioCodec("pcm_s16le");
    ASSERT_TRUE(pcm.Job().OpenOutputFile(File("again.mka")));
    ASSERT_TRUE(pcm.Run()) << pcm.error;
    EXPECT_EQ(ReadStreamPackets(File("again.mka"), 0).front().ptsSeconds, 0.0);
    EXPECT_EQ(DecodeAudio(File("again.mka")).samples, decoded.samples);
}

TEST_F(Transcode, ChannelsAndRateTheEncoderCannotTakeAreConverted)
{
    const std::string input = MakeFlac(File("surround.flac"), Tone(96000, 6, 1.0));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Job().OpenInputFile(input));
    conversion.Job().SetAudioChannels(2);
    conversion.Job().SetAudioSampleRate(48000);
    conversion.Job().SetAudioCodec("wmav2");
    ASSERT_TRUE(conversion.Job().OpenOutputFile(File("stereo.wma")));
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    const DecodedAudio result = DecodeAudio(File("stereo.wma"));
    EXPECT_EQ(result.channels, 2);
    EXPECT_EQ(result.sampleRate, 48000);
    EXPECT_GE(result.Frames(), 48000u);
    EXPECT_LE(result.Frames(), WmaLimit(48000, 48000));

    Conversion unconverted(lock_);
    ASSERT_TRUE(unconverted.Open(input, File("six.wma"), Target::Wma));
    EXPECT_FALSE(unconverted.Run());
    EXPECT_EQ(unconverted.error,
              "Error while opening codec for output stream #0.0 - maybe incorrect parameters "
              "such as bit_rate, rate, width or height: Invalid argument");
    EXPECT_FALSE(fs::exists(File("six.wma"))) << "the empty output is removed";
}

TEST_F(Transcode, RateAndLayoutChangesInsideAStreamKeepTheOutputAtItsRateAndSpeed)
{
    AudioSpec faster = Tone(32000, 2, 1.0);
    faster.frequency = 880;
    AudioSpec back = Tone(48000, 2, 1.0);
    back.frequency = 660;
    const std::string mp3 = MakeJoinedMp3(File("joined.mp3"), {Tone(44100, 2, 2.0), faster});
    const std::string ac3 =
        MakeJoinedAc3(File("joined.ac3"), {Tone(48000, 2, 2.0), Tone(48000, 6, 1.0), back});
    struct Case {
        std::string input;
        Target target;
        int rate;  // of the output: the stream's first, or one that every part is resampled to
    };
    for (const Case& c : {Case{mp3, Target::Wav, 44100}, Case{mp3, Target::Wma, 44100},
                          Case{ac3, Target::Wav, 44100}}) {
        const std::string output = c.input + (c.target == Target::Wma ? ".wma" : ".wav");
        SCOPED_TRACE(output);
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Open(c.input, output, c.target, [&](TCustomFFmpegHlpr& job) {
            if (c.input == ac3)
                job.SetAudioSampleRate(c.rate);
        }));
        ASSERT_TRUE(conversion.Run()) << conversion.error;
        const DecodedAudio result = DecodeAudio(output);
        ASSERT_EQ(result.sampleRate, c.rate);
        ASSERT_EQ(result.channels, 2) << "as the stream starts";
        // Each part takes its length at the output's rate, and keeps its pitch: the middle
        // half second of its stretch plays the part's own tones (surround mixed down keeps
        // the front ones on top).
        double start = 0;
        for (const DecodedAudio& part : DecodeAudioSegments(c.input)) {
            const double length = static_cast<double>(part.Frames()) * c.rate / part.sampleRate;
            const auto middle = static_cast<std::ptrdiff_t>(start + length / 2) * 2;
            start += length;
            if (length < c.rate)
                continue;  // the odd frame the decoder labels with the next part's rate
            const std::vector<int16_t> stretch(result.samples.begin() + middle - c.rate / 2,
                                               result.samples.begin() + middle + c.rate / 2);
            for (int channel = 0; channel < 2; ++channel)
                EXPECT_NEAR(
                    DominantFrequency(stretch, 2, channel, c.rate),
                    DominantFrequency(part.samples, part.channels, channel, part.sampleRate), 2.0)
                    << "part ending at " << start << ", channel " << channel;
        }
        const double padding = c.target == Target::Wma ? 2.0 * WmaFrameSize(c.rate) : 0.0;
        EXPECT_NEAR(static_cast<double>(result.Frames()), start + padding / 2, padding / 2 + 32);
    }
}

TEST_F(Transcode, TheFirstAudioStreamOrTheMappedOneFeedsTheOutputAtItsOwnFormat)
{
    const AudioSpec main = Tone(44100, 2, 1.0);
    AudioSpec commentary = Tone(22050, 1, 1.0);
    commentary.frequency = 660;
    const std::string mka = MakeMkaWithAudioStreams(File("two.mka"), {main, commentary});
    for (Target target : {Target::Wav, Target::Wma}) {
        const std::string output = File(target == Target::Wma ? "main.wma" : "main.wav");
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Open(mka, output, target));
        ASSERT_TRUE(conversion.Run()) << conversion.error;
        const DecodedAudio result = DecodeAudio(output);
        EXPECT_EQ(result.sampleRate, 44100) << output;
        EXPECT_EQ(result.channels, 2) << output;
        if (target == Target::Wav)
            EXPECT_EQ(result.samples, GenerateSamples(main));
        else
            EXPECT_NEAR(DominantFrequency(result.samples, 2, 0, 44100), 440.0, 1.0);
    }

    Conversion mapped(lock_);
    ASSERT_TRUE(mapped.Open(mka, File("commentary.wav"), Target::Wav));
    mapped.Job().AddStreamMap("0.1");
    ASSERT_TRUE(mapped.Run()) << mapped.error;
    const DecodedAudio result = DecodeAudio(File("commentary.wav"));
    EXPECT_EQ(result.sampleRate, 22050);
    EXPECT_EQ(result.channels, 1);
    EXPECT_EQ(result.samples, GenerateSamples(commentary));
}

TEST_F(Transcode, InputTagsReachWmaAndWavAndTagsSetForTheJobWin)
{
    const std::map<std::string, std::string> tags = {{"title", "Für Elise — 東京"},
                                                     {"artist", "Artist"},
                                                     {"album", "Album"},
                                                     {"album_artist", "Band"},
                                                     {"date", "2021"},
                                                     {"track", "7"},
                                                     {"disc", "2"},
                                                     {"genre", "Jazz"},
                                                     {"composer", "Composer"},
                                                     {"comment", "Said of it"},
                                                     {"copyright", "(C) Owner"}};
    AudioSpec audioSpec = Tone(44100, 2, 0.5);
    audioSpec.tags = tags;
    for (const std::string& input :
         {MakeMp3(File("in.mp3"), audioSpec), MakeFlac(File("in.flac"), audioSpec),
          MakeOggVorbis(File("in.ogg"), audioSpec)}) {
        for (Target target : {Target::Wma, Target::Wav}) {
            const std::string output = input + (target == Target::Wma ? ".wma" : ".wav");
            SCOPED_TRACE(output);
            Conversion conversion(lock_);
            conversion.Job().SetAuthor("Set for the job");
            ASSERT_TRUE(conversion.Open(input, output, target));
            conversion.Job().AddTagCopyMap(0, 0);
            ASSERT_TRUE(conversion.Run()) << conversion.error;
            std::map<std::string, std::string> expected = tags;
            expected["artist"] = "Set for the job";
            // LIST/INFO has no field for these.
            if (target == Target::Wav)
                for (const char* key : {"album_artist", "composer", "disc"})
                    expected.erase(key);
            const std::map<std::string, std::string> written = Probe(output).metadata;
            for (const auto& [key, value] : expected)
                EXPECT_EQ(written.count(key) ? written.at(key) : "(missing)", value) << key;
        }
    }
}

TEST_F(Transcode, StreamCopyWritesTheSourcePacketsUnchanged)
{
    const std::string mp3 = MakeMp3(File("in.mp3"), Tone(44100, 2, 1.0));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Job().OpenInputFile(mp3));
    conversion.Job().SetAudioCodec("copy");
    ASSERT_TRUE(conversion.Job().OpenOutputFile(File("copy.mka")));
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    EXPECT_EQ(ReadPackets(File("copy.mka"), 0), ReadPackets(mp3, 0));
    EXPECT_EQ(Probe(File("copy.mka")).streams[0].codec, "mp3");
}

TEST_F(Transcode, VideoCopyStartsAtAKeyPacketAndDisabledVideoIsDropped)
{
    VideoSpec video;
    video.seconds = 1.0;
    const std::string mpg = MakeMpegPs(File("in.mpg"), video, Tone(44100, 2, 1.0));
    const std::vector<Packet> source = ReadStreamPackets(mpg, 0);
    ASSERT_TRUE(source.front().keyFrame);
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Job().OpenInputFile(mpg));
    conversion.Job().SetVideoCodec("copy");
    conversion.Job().SetAudioCodec("copy");
    ASSERT_TRUE(conversion.Job().OpenOutputFile(File("copy.mpg")));
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    const std::vector<Packet> copied = ReadStreamPackets(File("copy.mpg"), 0);
    ASSERT_EQ(copied.size(), source.size());
    EXPECT_TRUE(copied.front().keyFrame);
    for (size_t i = 0; i < copied.size(); ++i)
        EXPECT_EQ(copied[i].data, source[i].data);
}

// A job whose first packets of every stream are not key packets.
TEST_F(Transcode, ACopyWritesNothingBeforeTheFirstKeyPacket)
{
    // An MPEG video started inside its first group of pictures: the packets before the next
    // key packet cannot be decoded without what came before, so they are skipped.
    VideoSpec video;
    video.seconds = 2.0;
    const std::string mpg = MakeMpegPs(File("in.mpg"), video, Tone(44100, 2, 2.0));
    const std::vector<Packet> source = ReadStreamPackets(mpg, 0);
    size_t secondKey = 1;
    while (secondKey < source.size() && !source[secondKey].keyFrame)
        ++secondKey;
    ASSERT_LT(secondKey, source.size());

    Conversion conversion(lock_);
    TCustomFFmpegHlpr& job = conversion.Job();
    ASSERT_TRUE(job.OpenInputFile(mpg));
    // Position the reader just after the first key packet.
    PacketPtr packet(avcodec.av_packet_alloc());
    while (avformat.av_read_frame(job.InputFiles[0].Context.get(), packet.get()) >= 0) {
        const bool firstVideoKey = packet->stream_index == 0 && (packet->flags & AV_PKT_FLAG_KEY);
        avcodec.av_packet_unref(packet.get());
        if (firstVideoKey)
            break;
    }
    job.SetVideoCodec("copy");
    job.AudioDisable = 1;
    ASSERT_TRUE(job.OpenOutputFile(File("late.mpg")));
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    const std::vector<Packet> copied = ReadStreamPackets(File("late.mpg"), 0);
    ASSERT_FALSE(copied.empty());
    EXPECT_TRUE(copied.front().keyFrame);
    EXPECT_EQ(copied.front().data, source[secondKey].data);
    EXPECT_EQ(copied.size(), source.size() - secondKey);
}

TEST_F(Transcode, StopRequestEndsWithAValidOutputUpToTheStop)
{
    const std::string input = MakeWav(File("long.wav"), Tone(44100, 2, 60.0));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Open(input, File("stopped.wma"), Target::Wma));
    TCustomFFmpegHlpr& job = conversion.Job();
    std::atomic<bool> terminated{false};
    job.TerminateHandler = [&](TCustomFFmpegHlpr&) { terminated = true; };
    std::atomic<int> reports{0};
    job.ReportInterval = 1000;
    job.ProgressHandler = [&](TCustomFFmpegHlpr&, int32_t, int32_t, int32_t, float, float,
                              int64_t, int32_t) { ++reports; };
    job.StartTranscode(true, tpNormal);
    while (reports < 3)
        std::this_thread::sleep_for(1ms);
    job.RequestStop();
    while (!terminated)
        std::this_thread::sleep_for(1ms);
    job.StopAndWait();
    EXPECT_FALSE(job.Finished);
    EXPECT_EQ(job.TranscodeError, "");
    EXPECT_FALSE(fs::exists(File("stopped.wma"))) << "a stopped output never takes the name";
    EXPECT_EQ(job.KeptPartialOutput, File("stopped.partial.wma"));
    const DecodedAudio result = DecodeAudio(File("stopped.partial.wma"));
    EXPECT_GT(result.Frames(), 0u);
    EXPECT_LT(result.Frames(), 60u * 44100) << "the conversion did not go on to the end";
    EXPECT_NEAR(Probe(File("stopped.partial.wma")).durationSeconds, result.Frames() / 44100.0, 0.1)
        << "the trailer tells the real length";
}

TEST_F(Transcode, AShortInputIsDoneWithAWarningAndOneWithoutAudioFails)
{
    // 30 s of audio, cut to 9.1 s after the input was opened (while it is converted, say).
    // A third time, beside the first one's output, it is kept as partial.
    const std::string partial = File("cut.out.partial.wav");
    for (Target target : {Target::Wav, Target::Wma, Target::Wav}) {
        const std::string cut = MakeWav(File("cut.wav"), Tone(8000, 1, 30.0));
        Conversion conversion(lock_);
        const std::string output = File(target == Target::Wav ? "cut.out.wav" : "cut.out.wma");
        const bool earlier = fs::exists(output);
        ASSERT_TRUE(conversion.Open(cut, output, target)) << conversion.error;
        fs::resize_file(cut, 44 + 91 * 1600);
        conversion.Job().JobLogLevel = 0;
        ASSERT_TRUE(conversion.Run()) << conversion.error;
        EXPECT_EQ(conversion.Job().TranscodeWarning,
                  "the input ended at 9.1 s of 30.0 s" +
                      (earlier ? "; kept as " + partial + " beside the earlier file" : ""));
        EXPECT_EQ(conversion.LogTexts(0),
                  std::vector<std::string>{"the input ended at 9.1 s of 30.0 s"});
        EXPECT_EQ(fs::exists(partial), earlier);
        EXPECT_NEAR(DecodeAudio(earlier ? partial : output).Frames() / 8000.0, 9.1, 0.3)
            << "what there was is kept";
    }

    const std::string empty = MakeRawFile(File("empty.wav"), WavHeader(44100, 2, 0));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Open(empty, File("empty.out.wav"), Target::Wav)) << conversion.error;
    EXPECT_FALSE(conversion.Run());
    EXPECT_EQ(conversion.error, empty + ": no audio could be converted: the input holds none");
}

TEST_F(Transcode, AnOutputWhoseFolderWasRemovedFailsSaying)
{
    fs::create_directories(File("gone"));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Open(MakeWav(File("in.wav"), Tone(8000, 1, 1.0)), File("gone/out.wav"),
                                Target::Wav));
    fs::remove_all(File("gone"));
    EXPECT_FALSE(conversion.Run());
    EXPECT_EQ(conversion.error,
              "Could not save '" + File("gone/out.wav") + "': No such file or directory");
}

TEST_F(Transcode, AbsurdSampleRatesAndChannelCountsAreRefusedAtOnce)
{
    // Headers claiming what no audio has, over a few bytes of it.
    const struct {
        int rate;
        int channels;
        const char* error;
    } claims[] = {
        {1073763874, 2,
         "Input stream #0.0 has a sample rate of 1073763874 Hz; only 1 to 768000 Hz can be "
         "converted"},
        {44100, 65, "Input stream #0.0 has 65 channels; only 1 to 64 can be converted"},
    };
    for (const auto& claim : claims) {
        const std::string input =
            MakeRawFile(File("absurd.wav"),
                        WavHeader(claim.rate, claim.channels, 4096) + std::string(4096, '\0'));
        for (Target target : {Target::Wav, Target::Wma}) {
            SCOPED_TRACE(std::string(target == Target::Wav ? "wav " : "wma ") + claim.error);
            rusage before{};
            getrusage(RUSAGE_SELF, &before);
            const auto start = std::chrono::steady_clock::now();
            Conversion conversion(lock_);
            ASSERT_TRUE(
                conversion.Open(input, File(target == Target::Wav ? "a.wav" : "a.wma"), target))
                << conversion.error;
            EXPECT_FALSE(conversion.Run());
            EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
            rusage after{};
            getrusage(RUSAGE_SELF, &after);
            EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100 * 1024)
                << "kilobytes more at the peak";
            EXPECT_EQ(conversion.error, claim.error);
        }
    }
}

TEST_F(Transcode, TimestampsThatGoBackAreCorrectedForWmaAsForWav)
{
    // The 10th packet starts 13 ms into the 9th, which lasts 93 ms: too little to be taken
    // for a jump, but the audio path's clock goes back by more than a WMA frame.
    const std::string input = MakeFlvWithStepBack(File("back.flv"), 10, 80);
    for (Target target : {Target::Wma, Target::Wav}) {
        SCOPED_TRACE(target == Target::Wav ? "wav" : "wma");
        const std::string output = File(target == Target::Wav ? "back.wav" : "back.wma");
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Open(input, output, target)) << conversion.error;
        conversion.Job().JobLogLevel = 0;
        ASSERT_TRUE(conversion.Run()) << conversion.error;
        const std::vector<std::string> info = conversion.LogTexts(1);
        const auto corrections = std::count_if(info.begin(), info.end(), [](const std::string& t) {
            return t.rfind("Timestamps of output stream #0.0 went back by ", 0) == 0;
        });
        EXPECT_EQ(corrections, target == Target::Wma ? 1 : 0) << "4096-sample PCM blocks outlast the step";
        EXPECT_NEAR(DecodeAudio(output).Frames() / 44100.0, 2.0, 0.1);
    }
}

TEST_F(Transcode, AFullDiskIsNamedAsTheReason)
{
    const std::string input = MakeWav(File("in.wav"), Tone(44100, 2, 3.0));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Open(input, File("out.wav"), Target::Wav));
    // A file size limit stands in for a full disk: writes past it fail with their reason.
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit unlimited = limit;
    limit.rlim_cur = 200000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool converted = conversion.Run();
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, previousSignal);
    EXPECT_FALSE(converted);
    EXPECT_EQ(conversion.error,
              "av_interleaved_write_frame(): Error while opening file: File too large");
}

TEST_F(Transcode, AStopEndsAReadThatWaitsForData)
{
    // A pipe whose writer delivers fifteen seconds and then nothing more, without closing.
    // Opening reads up to 50 packets ahead (13 s here), so the wait comes in the run.
    const std::string fifo = File("stalled.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ASSERT_GE(fcntl(writer, F_SETPIPE_SZ, 1 << 20), 1 << 20);
    std::ifstream in(MakeWav(File("source.wav"), Tone(8000, 1, 15.0)), std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    const std::string stalled = WavHeader(8000, 1, 480000) + bytes.substr(44);
    ASSERT_EQ(write(writer, stalled.data(), stalled.size()), static_cast<ssize_t>(stalled.size()));

    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Open(fifo, File("stalled.out.wav"), Target::Wav)) << conversion.error;
    TCustomFFmpegHlpr& job = conversion.Job();
    std::atomic<bool> terminated{false};
    job.TerminateHandler = [&](TCustomFFmpegHlpr&) { terminated = true; };
    job.StartTranscode(true, tpNormal);
    std::this_thread::sleep_for(300ms);  // long enough to take what there was and wait
    EXPECT_FALSE(terminated);
    const auto stop = std::chrono::steady_clock::now();
    job.RequestStop();
    while (!terminated && std::chrono::steady_clock::now() - stop < 5s)
        std::this_thread::sleep_for(1ms);
    EXPECT_LT(std::chrono::steady_clock::now() - stop, 1s);
    job.StopAndWait();
    close(writer);
    EXPECT_FALSE(job.Finished);
    EXPECT_EQ(job.TranscodeError, "");
    EXPECT_EQ(DecodeAudio(File("stalled.out.partial.wav")).Frames(), 120000u) << "all that was delivered";
}

TEST_F(Transcode, AnInputWithoutSamplesLeavesNoOutputAndSaysWhy)
{
    const std::string input = MakeRawFile(File("empty.wav"), WavHeader(44100, 2, 0));
    for (Target target : {Target::Wav, Target::Wma}) {
        const std::string output = File(target == Target::Wma ? "empty.wma" : "empty.out.wav");
        SCOPED_TRACE(output);
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Open(input, output, target)) << conversion.error;
        EXPECT_FALSE(conversion.Run());
        EXPECT_EQ(conversion.error, input + ": no audio could be converted: the input holds none");
        EXPECT_FALSE(fs::exists(output)) << "not even a shell of padding";
    }
}

TEST_F(Transcode, SetUpFailuresComeBeforeAnyFileIsWritten)
{
    const std::string input = MakeWav(File("in.wav"), Tone(44100, 2, 0.5));
    struct Case {
        std::function<void(TCustomFFmpegHlpr&)> arrange;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[](TCustomFFmpegHlpr& job) {
             job.AddStreamMap(0, 0);
             job.AddStreamMap(0, 0);
         },
         "Number of stream maps must match number of output streams"},
        {[](TCustomFFmpegHlpr& job) { job.AddStreamMap(0, 3); }, "Could not find input stream #0.3"},
        {[](TCustomFFmpegHlpr& job) { job.AddStreamMap(1, 0); }, "Could not find input stream #1.0"},
        {[](TCustomFFmpegHlpr& job) { job.AddStreamMap(0, 0, 0, 1); },
         "Could not find sync stream #0.1"},
        {[](TCustomFFmpegHlpr& job) { job.AddTagCopyMap(2, 0); },
         "Invalid output file index 2 map_meta_data(2,0)"},
        {[](TCustomFFmpegHlpr& job) { job.AddTagCopyMap(0, 5); },
         "Invalid input file index 5 map_meta_data(0,5)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string output = File("out.wav");
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Open(input, output, Target::Wav));
        c.arrange(conversion.Job());
        EXPECT_FALSE(conversion.Run());
        EXPECT_EQ(conversion.error, c.message);
        EXPECT_FALSE(fs::exists(output)) << "nothing may be written";
    }

    Conversion noStream(lock_);
    ASSERT_TRUE(noStream.Job().OpenInputFile(input));
    noStream.Job().AudioDisable = 1;
    ASSERT_TRUE(noStream.Job().OpenOutputFile(File("none.wav")));
    EXPECT_FALSE(noStream.Run());
    EXPECT_EQ(noStream.error, "Output file does not contain any stream");
    EXPECT_FALSE(fs::exists(File("none.wav")));
}

TEST_F(Transcode, StreamMappingIsListedAndMapsChooseTheSource)
{
    VideoSpec video;
    video.seconds = 0.5;
    const std::string mpg = MakeMpegPs(File("in.mpg"), video, Tone(44100, 2, 0.5));
    Conversion conversion(lock_);
    TCustomFFmpegHlpr& job = conversion.Job();
    job.JobLogLevel = 0;
    ASSERT_TRUE(job.OpenInputFile(mpg));
    job.VideoDisable = 1;
    ASSERT_TRUE(job.OpenOutputFile(File("out.wav")));
    job.AddStreamMap("0.1:0.0");
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    const std::vector<std::string> info = conversion.LogTexts(1);
    EXPECT_EQ(std::vector<std::string>(info.begin(), info.begin() + 3),
              (std::vector<std::string>{"Stream mapping:", "  Stream #0.1 -> #0.0",
                                        " [sync #0.0]"}));
    EXPECT_THROW(job.AddStreamMap("0:1"), FFMpegException);
}

TEST_F(Transcode, TwoOutputStreamsOfOneKindShareTheLastInputStream)
{
    const std::string wav = MakeWav(File("in.wav"), Tone(44100, 2, 0.5));
    Conversion conversion(lock_);
    TCustomFFmpegHlpr& job = conversion.Job();
    job.JobLogLevel = 0;
    ASSERT_TRUE(job.OpenInputFile(wav));
    ASSERT_TRUE(job.OpenOutputFile(File("one.wav")));
    ASSERT_TRUE(job.OpenOutputFile(File("two.wav")));
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    const std::vector<std::string> info = conversion.LogTexts(1);
    EXPECT_EQ(std::vector<std::string>(info.begin(), info.begin() + 3),
              (std::vector<std::string>{"Stream mapping:", "  Stream #0.0 -> #0.0",
                                        "  Stream #0.0 -> #1.0"}));
    EXPECT_EQ(DecodeAudio(File("one.wav")).samples, DecodeAudio(File("two.wav")).samples);
}

TEST_F(Transcode, AudioOnlyProgressCountsOutputTimeAtMostOncePerInterval)
{
    const std::string input = MakeWav(File("in.wav"), Tone(44100, 2, 30.0));
    Conversion conversion(lock_);
    ASSERT_TRUE(conversion.Open(input, File("out.wma"), Target::Wma));
    conversion.WatchProgress();
    conversion.Job().ReportInterval = 20000;
    ASSERT_TRUE(conversion.Run());
    ASSERT_GE(conversion.progress.size(), 2u);
    int32_t previous = 0;
    for (size_t i = 0; i < conversion.progress.size(); ++i) {
        const Progress& p = conversion.progress[i];
        EXPECT_EQ(p.frameNumber, -1);
        EXPECT_EQ(p.fps, -1);
        EXPECT_FLOAT_EQ(p.quality, -1.0f);
        EXPECT_EQ(p.totalDuration, 30000);
        EXPECT_GE(p.durationTime, previous);
        previous = p.durationTime;
        if (i > 0 && i + 1 < conversion.progress.size()) {
            EXPECT_GT(p.at - conversion.progress[i - 1].at, 18ms);  // the interval, less jitter
        }
    }
    const Progress& last = conversion.progress.back();
    EXPECT_NEAR(last.durationTime, 30000, 100);
    EXPECT_EQ(last.currentSize, static_cast<int64_t>(fs::file_size(File("out.wma"))));
    EXPECT_GT(last.bitRate, 128) << "the output's bit rate with container overhead";
    EXPECT_LT(last.bitRate, 150);
}

TEST_F(Transcode, WithoutAProgressHandlerTheReportIsLogged)
{
    const std::string input = MakeWav(File("in.wav"), Tone(44100, 2, 1.0));
    for (int level : {1, 2}) {
        Conversion conversion(lock_);
        ASSERT_TRUE(conversion.Open(input, File("out.wav"), Target::Wav));
        conversion.Job().JobLogLevel = level;
        ASSERT_TRUE(conversion.Run());
        const std::vector<std::string> info = conversion.LogTexts(1);
        ASSERT_GE(info.size(), 2u);
        const std::string& report = info[info.size() - 2];
        EXPECT_EQ(report.rfind("size=", 0), 0u) << report;
        EXPECT_NE(report.find(" time=1.0 bitrate="), std::string::npos) << report;
        EXPECT_EQ(report.find(" dup=0 drop=0") != std::string::npos, level > 1) << report;
        const std::string& statistics = info.back();
        EXPECT_EQ(statistics.rfind("video:0kB audio:172kB global headers:0kB muxing overhead 0.", 0),
                  0u)
            << statistics;
        EXPECT_EQ(statistics.substr(statistics.size() - 3), "%\r\n");
    }
}

TEST_F(Transcode, SyncModeOnePadsALateStartWithSilenceAndTrimsAnEarlyOne)
{
    const AudioSpec audioSpec = Tone(44100, 2, 1.0);
    const std::string input = MakeWav(File("in.wav"), audioSpec);
    const std::vector<int16_t> samples = GenerateSamples(audioSpec);
    for (int64_t offset : {500000, -500000}) {
        SCOPED_TRACE(offset);
        Conversion conversion(lock_);
        TCustomFFmpegHlpr& job = conversion.Job();
        job.KeepTimestamps = true;
        job.InputTimeOffset = offset;
        job.AudioSyncMode = 1;
        const std::string output = File("sync" + std::to_string(offset) + ".wav");
        ASSERT_TRUE(conversion.Open(input, output, Target::Wav));
        ASSERT_TRUE(conversion.Run()) << conversion.error;
        const std::vector<int16_t> result = DecodeAudio(output).samples;
        if (offset > 0) {
            ASSERT_EQ(result.size(), samples.size() + 2 * 22050);
            EXPECT_TRUE(std::all_of(result.begin(), result.begin() + 2 * 22050,
                                    [](int16_t v) { return v == 0; }));
            EXPECT_TRUE(std::equal(samples.begin(), samples.end(), result.begin() + 2 * 22050));
        } else {
            ASSERT_EQ(result.size(), samples.size() - 2 * 22050);
            EXPECT_TRUE(std::equal(result.begin(), result.end(), samples.begin() + 2 * 22050));
        }
    }
}

TEST_F(Transcode, SilenceBeyondThePaddingLimitKeepsThreeChannelsInStep)
{
    // 131072 bytes of padding is not a whole number of 3-channel sample frames.
    const AudioSpec audioSpec = Tone(44100, 3, 1.0);
    const std::vector<int16_t> samples = GenerateSamples(audioSpec);
    Conversion conversion(lock_);
    TCustomFFmpegHlpr& job = conversion.Job();
    job.KeepTimestamps = true;
    job.InputTimeOffset = 2000000;
    job.AudioSyncMode = 1;
    ASSERT_TRUE(conversion.Open(MakeWav(File("in.wav"), audioSpec), File("late.wav"), Target::Wav));
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    const std::vector<int16_t> result = DecodeAudio(File("late.wav")).samples;
    ASSERT_GT(result.size(), samples.size());
    const auto firstBlock = std::search(result.begin(), result.end(), samples.begin(),
                                        samples.begin() + 300);
    ASSERT_NE(firstBlock, result.end());
    EXPECT_EQ((firstBlock - result.begin()) % 3, 0) << "the first channel stays first";
    EXPECT_TRUE(std::equal(samples.end() - 300, samples.end(), result.end() - 300));
}

TEST_F(Transcode, VolumeScalesAndClampsTheSamples)
{
    AudioSpec audioSpec = Tone(8000, 1, 0.5);
    audioSpec.amplitude = 0.9;
    const std::string input = MakeWav(File("in.wav"), audioSpec);
    Conversion conversion(lock_);
    conversion.Job().SetAudioVolume(512);
    ASSERT_TRUE(conversion.Open(input, File("loud.wav"), Target::Wav));
    ASSERT_TRUE(conversion.Run());
    const std::vector<int16_t> source = GenerateSamples(audioSpec);
    const std::vector<int16_t> result = DecodeAudio(File("loud.wav")).samples;
    ASSERT_EQ(result.size(), source.size());
    for (size_t i = 0; i < source.size(); ++i)
        ASSERT_EQ(result[i], std::clamp((source[i] * 512 + 128) >> 8, -32768, 32767)) << i;
}

TEST_F(Transcode, ATextSubtitleStreamIsCarriedIntoMatroska)
{
    const std::string mkv = MakeMkvWithSubtitles(File("in.mkv"), Tone(44100, 2, 2.0),
                                                 {{0.5, 1.0, "first"}, {1.2, 1.8, "second"}});
    Conversion conversion(lock_);
    TCustomFFmpegHlpr& job = conversion.Job();
    ASSERT_TRUE(job.OpenInputFile(mkv));
    job.SetAudioCodec("copy");
    ASSERT_TRUE(job.OpenOutputFile(File("out.mkv")));
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    const MediaInfo info = Probe(File("out.mkv"));
    ASSERT_EQ(info.streams.size(), 2u);
    EXPECT_EQ(info.streams[1].type, "subtitle");
    const std::vector<Packet> cues = ReadStreamPackets(File("out.mkv"), 1);
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_NEAR(cues[0].ptsSeconds, 0.5, 0.01);
    EXPECT_NEAR(cues[1].ptsSeconds, 1.2, 0.01);
    EXPECT_NE(std::string(cues[0].data.begin(), cues[0].data.end()).find("first"),
              std::string::npos);
}

TEST_F(Transcode, VideoSetUpSizesTheEncodeBufferAndReadsSecondPassStatisticsFirst)
{
    VideoSpec video;
    video.width = 720;
    video.height = 576;
    video.seconds = 0.4;
    const std::string mpg = MakeMpegPs(File("dvd.mpg"), video, Tone(48000, 2, 0.4));
    Conversion copy(lock_);
    ASSERT_TRUE(copy.Job().OpenInputFile(mpg));
    copy.Job().SetVideoCodec("copy");
    copy.Job().SetAudioCodec("copy");
    ASSERT_TRUE(copy.Job().OpenOutputFile(File("copy.mpg")));
    ASSERT_TRUE(copy.Run()) << copy.error;
    EXPECT_EQ(copy.Job().EncodeBufferSize, 1658880);

    // Two-pass statistics are read (pass 2) before anything else can fail; once read, they go
    // with the encoder whatever fails next (the address sanitizer build reports them otherwise).
    const auto secondPassError = [&] {
        Conversion secondPass(lock_);
        EXPECT_TRUE(secondPass.Job().OpenInputFile(mpg));
        secondPass.Job().PassNumber = 2;
        secondPass.Job().PassLogBaseName = File("stats");
        EXPECT_TRUE(secondPass.Job().OpenOutputFile(File("pass2.mpg")));
        EXPECT_FALSE(secondPass.Run());
        return secondPass.error;
    };
    EXPECT_EQ(secondPassError(), "creat open fail: " + File("stats") + "-0.log");
    std::ofstream(File("stats") + "-0.log") << "statistics of no first pass\n";
    const std::string refusal = secondPassError();
    EXPECT_EQ(refusal.rfind("Error while opening codec for output stream #0.0", 0), 0u) << refusal;
    EXPECT_FALSE(fs::exists(File("pass2.mpg")));
}

// 16-bit PCM in Matroska whose timestamps jump forward by `jumpSeconds` after the first
// `before` seconds; `seconds` of audio in all.
std::string MakeMkaWithJump(const std::string& path, double seconds, double before,
                            double jumpSeconds)
{
    const AudioSpec audioSpec = Tone(44100, 1, seconds);
    const std::vector<int16_t> samples = GenerateSamples(audioSpec);
    AVFormatContext* context = nullptr;
    avformat_alloc_output_context2(&context, nullptr, "matroska", path.c_str());
    AVStream* stream = avformat_new_stream(context, nullptr);
    stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    stream->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    stream->codecpar->sample_rate = 44100;
    av_channel_layout_default(&stream->codecpar->ch_layout, 1);
    stream->codecpar->bits_per_coded_sample = 16;
    stream->time_base = AVRational{1, 44100};
    avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    EXPECT_GE(avformat_write_header(context, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    const int block = 1024;
    for (size_t start = 0; start < samples.size(); start += block) {
        const int count = static_cast<int>(std::min<size_t>(block, samples.size() - start));
        av_new_packet(packet, count * 2);
        std::memcpy(packet->data, samples.data() + start, static_cast<size_t>(count) * 2);
        int64_t pts = static_cast<int64_t>(start);
        if (start >= before * 44100)
            pts += static_cast<int64_t>(jumpSeconds * 44100);
        packet->pts = packet->dts = av_rescale_q(pts, AVRational{1, 44100}, stream->time_base);
        packet->duration = av_rescale_q(count, AVRational{1, 44100}, stream->time_base);
        packet->flags = AV_PKT_FLAG_KEY;
        EXPECT_GE(av_interleaved_write_frame(context, packet), 0);
    }
    av_write_trailer(context);
    av_packet_free(&packet);
    avio_closep(&context->pb);
    avformat_free_context(context);
    return path;
}

TEST_F(Transcode, ATimestampJumpIsTakenOutOfTheOutput)
{
    const std::string input = MakeMkaWithJump(File("jump.mka"), 2.0, 1.0, 20.0);
    Conversion conversion(lock_);
    conversion.Job().JobLogLevel = 3;
    ASSERT_TRUE(conversion.Open(input, File("jump.wma"), Target::Wma));
    conversion.Job().JobLogLevel = 3;
    ASSERT_TRUE(conversion.Run()) << conversion.error;
    std::vector<std::string> discontinuities;
    for (const std::string& text : conversion.LogTexts(1))
        if (text.rfind("timestamp discontinuity ", 0) == 0)
            discontinuities.push_back(text);
    ASSERT_EQ(discontinuities.size(), 1u);
    EXPECT_NE(discontinuities[0].find("discontinuity 2000"), std::string::npos)
        << discontinuities[0];
    EXPECT_NEAR(Probe(File("jump.wma")).durationSeconds, 2.0, 0.15) << "no 20-second gap";
}

TEST_F(Transcode, RecordingTimeAndFileSizeLimitEndTheLoop)
{
    const std::string input = MakeWav(File("in.wav"), Tone(44100, 2, 3.0));
    Conversion timed(lock_);
    ASSERT_TRUE(timed.Open(input, File("timed.wav"), Target::Wav));
    timed.Job().SetRecordingTime(1000);
    ASSERT_TRUE(timed.Run()) << timed.error;
    EXPECT_NEAR(DecodeAudio(File("timed.wav")).Frames() / 44100.0, 1.0, 0.1);

    Conversion limited(lock_);
    ASSERT_TRUE(limited.Open(input, File("limited.wav"), Target::Wav));
    limited.Job().FileSizeLimit = 100000;
    ASSERT_TRUE(limited.Run()) << limited.error;
    EXPECT_GT(fs::file_size(File("limited.wav")), 100000u);
    EXPECT_LT(fs::file_size(File("limited.wav")), 100000u + 70000u) << "stopped soon after";
}

// Drives the packet writer directly.
class PacketWriterJob final : public TCustomFFmpegHlpr {
public:
    using TCustomFFmpegHlpr::TCustomFFmpegHlpr;
    ~PacketWriterJob() override { StopAndWait(); }
    using TCustomFFmpegHlpr::ReleaseTranscodeState;
    using TCustomFFmpegHlpr::SetUpTranscode;
    using TCustomFFmpegHlpr::WritePacket;
};

TEST_F(Transcode, AFailingBitstreamFilterIsLoggedAndPassesThePacketOn)
{
    const std::string mp3 = MakeMp3(File("in.mp3"), Tone(44100, 2, 0.5));
    PacketWriterJob job(lock_);
    job.Reset();
    job.SetLogLevel(-1);
    std::vector<std::pair<int, std::string>> log;
    job.LogHandler = [&](TCustomFFmpegHlpr&, int level, const std::string& text) {
        log.emplace_back(level, text);
    };
    ASSERT_TRUE(job.OpenInputFile(mp3));
    job.SetAudioCodec("copy");
    // The first filter refuses packets shorter than two bytes; the second adds noise.
    job.AddBitstreamFilter(mkAudio, "mov2textsub");
    job.AddBitstreamFilter(mkAudio, "null");
    ASSERT_TRUE(job.OpenOutputFile(File("out.mka")));
    job.SetUpTranscode();
    PacketPtr packet(avcodec.av_packet_alloc());
    ASSERT_EQ(av_new_packet(packet.get(), 1), 0);
    packet->data[0] = 0x42;
    packet->pts = packet->dts = 0;
    job.WritePacket(*job.OutputStreams[0], packet.get());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].first, 0);
    EXPECT_EQ(log[0].second.rfind("mov2textsub failed for stream 0, codec copy: ", 0), 0u)
        << log[0].second;
    job.ReleaseTranscodeState();
}

TEST_F(Transcode, WavOutputsLeaveTheChoiceOfRf64ToTheMuxerUnlessTheJobMadeIt)
{
    const std::string input = MakeWav(File("in.wav"), Tone(44100, 2, 0.1));
    for (const std::string chosen : {"", "always"}) {
        PacketWriterJob job(lock_);
        job.Reset();
        job.SetLogLevel(-1);
        ASSERT_TRUE(job.OpenInputFile(input));
        job.SetOutputFormat("wav");
        if (!chosen.empty()) {
            ASSERT_TRUE(job.SetOption("rf64", chosen));
        }
        ASSERT_TRUE(job.OpenOutputFile(File("out" + chosen + ".wav")));
        job.SetUpTranscode();
        int64_t rf64 = 0;
        ASSERT_GE(av_opt_get_int(job.OutputFiles[0].Context->priv_data, "rf64", 0, &rf64), 0);
        EXPECT_EQ(rf64, chosen.empty() ? -1 : 1) << "auto is -1, never 0, always 1";
        job.ReleaseTranscodeState();
    }
}

}  // namespace
}  // namespace kelvaro
