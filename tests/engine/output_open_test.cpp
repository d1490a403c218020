#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/job.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using namespace fixtures;

class OutputOpen : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::LoadMediaLibrariesForTest();
        job_.Reset();
        job_.SetLogLevel(-1);
    }
    void TearDown() override { job_.SetLogLevel(1); }
    void OpenWav(int rate, int channels)
    {
        AudioSpec audioSpec;
        audioSpec.sampleRate = rate;
        audioSpec.channels = channels;
        audioSpec.seconds = 0.3;
        input_ = MakeWav(folder_.File("in.wav"), audioSpec);
        ASSERT_TRUE(job_.OpenInputFile(input_)) << job_.LastError;
    }
    void OpenVideoClip()
    {
        VideoSpec video;
        video.seconds = 0.5;
        AudioSpec audio;
        audio.seconds = 0.5;
        input_ = MakeMpegPs(folder_.File("in.mpg"), video, audio);
        ASSERT_TRUE(job_.OpenInputFile(input_)) << job_.LastError;
    }
    const TOutputFile& Output(int index = 0) { return job_.OutputFiles[index]; }

    TempDir folder_;
    std::string input_;
    std::mutex lock_;
    TCustomFFmpegHlpr job_{lock_};
};

TEST_F(OutputOpen, WmaOutputGetsOneWmaEncoderAtTheInputsRateAndChannels)
{
    OpenWav(22050, 1);
    job_.SetAudioCodec("wmav2");
    ASSERT_TRUE(job_.SetOption("ab", "128000"));
    const std::string wma = folder_.File("out.wma");
    ASSERT_TRUE(job_.OpenOutputFile(wma)) << job_.LastError;
    EXPECT_EQ(job_.OutputFileCount, 1);
    EXPECT_STREQ(Output().Context->oformat->name, "asf");
    ASSERT_EQ(Output().Streams.size(), 1u);
    const AVCodecContext* encoder = Output().Streams[0].Encoder.get();
    EXPECT_EQ(encoder->codec_id, AV_CODEC_ID_WMAV2);
    EXPECT_EQ(encoder->bit_rate, 128000);
    EXPECT_EQ(encoder->sample_rate, 22050);
    EXPECT_EQ(encoder->ch_layout.nb_channels, 1);
    EXPECT_EQ(encoder->sample_fmt, AV_SAMPLE_FMT_FLTP) << "the encoder's own sample format";
    EXPECT_TRUE(encoder->flags & AV_CODEC_FLAG_GLOBAL_HEADER) << "asf wants global headers";
    // Until the job ends with a valid file its bytes go to a locked temporary file beside
    // it, which tells what it is.
    ASSERT_TRUE(Output().Temporary.has_value());
    const std::string temporary = Output().Temporary->TemporaryName();
    EXPECT_EQ(temporary.rfind(folder_.File(".out.wma."), 0), 0u) << temporary;
    EXPECT_EQ(temporary.substr(temporary.size() - 13), ".kelvaro-part");
    EXPECT_TRUE(fs::exists(temporary));
    EXPECT_FALSE(fs::exists(wma));
    EXPECT_EQ(job_.AudioCodecName, "") << "the pending name is consumed";
}

TEST_F(OutputOpen, WavOutputUsesTheFormatsDefaultEncoder)
{
    OpenWav(48000, 2);
    job_.SetOutputFormat("wav");
    ASSERT_TRUE(job_.OpenOutputFile(folder_.File("out.wav"))) << job_.LastError;
    ASSERT_EQ(Output().Streams.size(), 1u);
    const AVCodecContext* encoder = Output().Streams[0].Encoder.get();
    EXPECT_EQ(encoder->codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(encoder->sample_fmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(encoder->sample_rate, 48000);
    EXPECT_EQ(encoder->ch_layout.nb_channels, 2);
    EXPECT_EQ(job_.ForcedOutputFormat, nullptr);
}

TEST_F(OutputOpen, StreamKindsFollowTheFormatAndTheInputs)
{
    OpenVideoClip();
    ASSERT_TRUE(job_.OpenOutputFile(folder_.File("audio-only.wav")));
    ASSERT_EQ(Output(0).Streams.size(), 1u) << "wav has no video codec";
    EXPECT_EQ(Output(0).Streams[0].Encoder->codec_type, AVMEDIA_TYPE_AUDIO);

    TCustomFFmpegHlpr audioOnly(lock_);
    audioOnly.Reset();
    audioOnly.SetLogLevel(-1);
    AudioSpec audioSpec;
    audioSpec.seconds = 0.3;
    ASSERT_TRUE(audioOnly.OpenInputFile(MakeWav(folder_.File("a.wav"), audioSpec)));
    ASSERT_TRUE(audioOnly.OpenOutputFile(folder_.File("out.avi")));
    ASSERT_EQ(audioOnly.OutputFiles[0].Streams.size(), 1u) << "no input has video";
    EXPECT_EQ(audioOnly.OutputFiles[0].Streams[0].Encoder->codec_type, AVMEDIA_TYPE_AUDIO);

    job_.AudioDisable = 1;
    job_.VideoDisable = 1;
    const std::string empty = folder_.File("nothing.avi");
    ASSERT_TRUE(job_.OpenOutputFile(empty));
    EXPECT_TRUE(Output(1).Streams.empty());
    EXPECT_EQ(job_.AudioDisable, 0) << "disabling serves one output";
    EXPECT_EQ(job_.VideoDisable, 0);
}

TEST_F(OutputOpen, CopyMarksTheStreamAndConsumesTheFlag)
{
    OpenVideoClip();
    job_.SetAudioCodec("copy");
    job_.SetVideoCodec("copy");
    ASSERT_TRUE(job_.OpenOutputFile(folder_.File("copy.mpg"))) << job_.LastError;
    ASSERT_EQ(Output().Streams.size(), 2u);
    EXPECT_TRUE(Output().Streams[0].StreamCopy);
    EXPECT_TRUE(Output().Streams[1].StreamCopy);
    EXPECT_EQ(job_.AudioCopy, 0);
    EXPECT_EQ(job_.VideoCopy, 0);
}

TEST_F(OutputOpen, StreamCreationFailuresNameTheirStage)
{
    OpenVideoClip();
    job_.SetVideoCodec("mp2");
    const std::string file = folder_.File("out.mpg");
    EXPECT_FALSE(job_.OpenOutputFile(file));
    EXPECT_EQ(job_.LastError, "new_video_stream fail: Invalid encoder type 'mp2'");
    EXPECT_EQ(job_.VideoCodecName, "");
    EXPECT_FALSE(fs::exists(file)) << "no empty file is left behind";
    EXPECT_EQ(job_.OutputFileCount, 0);

    job_.SetAudioCodec("nosuch");
    EXPECT_FALSE(job_.OpenOutputFile(file));
    EXPECT_EQ(job_.LastError, "new_audio_stream fail: Unknown encoder 'nosuch'");

    job_.RcOverride = "0,100";
    EXPECT_FALSE(job_.OpenOutputFile(file));
    EXPECT_EQ(job_.LastError, "new_video_stream fail: error parsing rc_override");
}

TEST_F(OutputOpen, RateControlOverridesAreParsedIntoTheEncoder)
{
    OpenVideoClip();
    job_.RcOverride = "0,100,5/200,300,-50";
    ASSERT_TRUE(job_.OpenOutputFile(folder_.File("out.mpg"))) << job_.LastError;
    const AVCodecContext* video = Output().Streams[0].Encoder.get();
    ASSERT_EQ(video->rc_override_count, 2);
    EXPECT_EQ(video->rc_override[0].start_frame, 0);
    EXPECT_EQ(video->rc_override[0].end_frame, 100);
    EXPECT_EQ(video->rc_override[0].qscale, 5);
    EXPECT_FLOAT_EQ(video->rc_override[0].quality_factor, 1.0f);
    EXPECT_EQ(video->rc_override[1].start_frame, 200);
    EXPECT_EQ(video->rc_override[1].qscale, 0);
    EXPECT_FLOAT_EQ(video->rc_override[1].quality_factor, 0.5f);
}

TEST_F(OutputOpen, TheTimeBaseIsTheNearestRateTheEncoderSupports)
{
    OpenVideoClip();
    struct Case {
        AVRational wanted;
        AVRational timeBase;
    };
    for (const Case& c : {Case{{0, 0}, {1, 25}}, Case{{26, 1}, {1, 25}}, Case{{49, 2}, {1, 24}},
                          Case{{24000, 1001}, {1001, 24000}}}) {
        job_.FrameRate = c.wanted;
        job_.SetVideoCodec("mpeg1video");
        job_.AudioDisable = 1;
        ASSERT_TRUE(job_.OpenOutputFile(
            folder_.File("rate" + std::to_string(job_.OutputFileCount) + ".mpg")));
        const AVCodecContext* video = Output(job_.OutputFileCount - 1).Streams[0].Encoder.get();
        EXPECT_EQ(video->time_base.num, c.timeBase.num) << c.wanted.num << "/" << c.wanted.den;
        EXPECT_EQ(video->time_base.den, c.timeBase.den) << c.wanted.num << "/" << c.wanted.den;
    }
}

TEST_F(OutputOpen, GeometryAspectAndLanguage)
{
    OpenVideoClip();
    job_.SetCropLeft(16);
    job_.SetCropRight(16);
    job_.SetPadTop(8);
    job_.SetPadBottom(8);
    job_.SetAspectRatio("4:3");
    job_.AudioLanguage = "english";
    ASSERT_TRUE(job_.OpenOutputFile(folder_.File("out.mpg"))) << job_.LastError;
    const AVCodecContext* video = Output().Streams[0].Encoder.get();
    EXPECT_EQ(video->width, 288);
    EXPECT_EQ(video->height, 256);
    // 4:3 shown on 288x256 pixels.
    EXPECT_EQ(video->sample_aspect_ratio.num, 32);
    EXPECT_EQ(video->sample_aspect_ratio.den, 27);
    const AVDictionaryEntry* language =
        avutil.av_dict_get(Output().Context->streams[1]->metadata, "language", nullptr, 0);
    ASSERT_NE(language, nullptr);
    EXPECT_STREQ(language->value, "eng");
    EXPECT_EQ(job_.AudioLanguage, "");
}

TEST_F(OutputOpen, TagsGoIntoTheOutputsMetadata)
{
    OpenWav(44100, 2);
    job_.SetTitle(std::string(600, 't'));
    job_.SetAuthor("Someone");
    job_.SetGenre(std::string(40, 'g'));
    job_.SetYear(2008);
    job_.SetTrack(7);
    ASSERT_TRUE(job_.OpenOutputFile(folder_.File("out.wma")));
    AVDictionary* metadata = Output().Context->metadata;
    auto tag = [&](const char* key) {
        const AVDictionaryEntry* entry = avutil.av_dict_get(metadata, key, nullptr, 0);
        return entry ? std::string(entry->value) : std::string("<none>");
    };
    EXPECT_EQ(tag("title"), std::string(511, 't'));
    EXPECT_EQ(tag("artist"), "Someone");
    EXPECT_EQ(tag("genre"), std::string(31, 'g'));
    EXPECT_EQ(tag("date"), "2008");
    EXPECT_EQ(tag("track"), "7");
    EXPECT_EQ(tag("comment"), "<none>");
}

// Runs `body` on this thread without the power of root (if it is root) to write where the
// permissions forbid it.
template <class Body>
auto WithoutOverridingPermissions(Body body)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2] = {};
    syscall(SYS_capget, &header, saved);
    __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    syscall(SYS_capset, &header, reduced);
    auto result = body();
    syscall(SYS_capset, &header, saved);
    return result;
}

TEST_F(OutputOpen, FileFailuresHaveTheirTexts)
{
    OpenWav(44100, 2);
    const std::string unknown = folder_.File("out.nosuchformat");
    EXPECT_FALSE(job_.OpenOutputFile(unknown));
    EXPECT_EQ(job_.LastError, "Unable to find a suitable output format for '" + unknown + "'");

    const std::string unwritable = folder_.File("no/such/folder/out.wav");
    EXPECT_FALSE(job_.OpenOutputFile(unwritable));
    EXPECT_EQ(job_.LastError, "Could not open '" + unwritable + "': No such file or directory");
    const std::string fifo = folder_.File("fifo.wav");
    mkfifo(fifo.c_str(), 0600);
    EXPECT_FALSE(job_.OpenOutputFile(fifo)) << "it would wait for a reader, or feed one";
    EXPECT_EQ(job_.LastError,
              "Could not open '" + fifo + "': not a regular file (a FIFO, socket or device)");

    const std::string readOnly = folder_.File("read-only");
    fs::create_directory(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    const bool opened =
        WithoutOverridingPermissions([&] { return job_.OpenOutputFile(readOnly + "/out.wav"); });
    EXPECT_FALSE(opened);
    EXPECT_EQ(job_.LastError, "Could not open '" + readOnly + "/out.wav': Permission denied");
    EXPECT_EQ(job_.OutputFileCount, 0);
}

TEST_F(OutputOpen, AnInputIsNeverOverwritten)
{
    OpenWav(44100, 2);
    const auto sizeBefore = fs::file_size(input_);
    job_.SetOutputFormat("wav");
    EXPECT_FALSE(job_.OpenOutputFile(input_));
    EXPECT_EQ(job_.LastError, "Output file is the same as input file: " + input_);
    EXPECT_EQ(fs::file_size(input_), sizeBefore);
    EXPECT_EQ(job_.ForcedOutputFormat, nullptr);

    // The same file under another name is the same file.
    const std::string link = folder_.File("link.wav");
    fs::create_symlink(input_, link);
    EXPECT_FALSE(job_.OpenOutputFile(link));
    EXPECT_EQ(fs::file_size(input_), sizeBefore);

    const std::string other = folder_.File("other.wav");
    std::ofstream(other) << "old content";
    ASSERT_TRUE(job_.OpenOutputFile(other));
    EXPECT_EQ(fs::file_size(other), 11u) << "an earlier file stays until the job has a new one";
}

TEST_F(OutputOpen, ATwentyFirstOutputIsRefused)
{
    OpenWav(8000, 1);
    for (int i = 0; i < kMaxFiles; ++i)
        ASSERT_TRUE(job_.OpenOutputFile(folder_.File(std::to_string(i) + ".wav")));
    const std::string extra = folder_.File("extra.wav");
    EXPECT_FALSE(job_.OpenOutputFile(extra));
    EXPECT_EQ(job_.LastError, extra + ": too many output files (at most 20)");
    EXPECT_FALSE(fs::exists(extra));
}

}  // namespace
}  // namespace kelvaro
