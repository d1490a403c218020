#include <gtest/gtest.h>

#include "engine/job.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

using namespace fixtures;

class TargetPresets : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::LoadMediaLibrariesForTest();
        job_.Reset();
        job_.LogHandler = [this](TCustomFFmpegHlpr&, int level, const std::string& text) {
            if (level == 1 && text.rfind("Assuming", 0) == 0)
                assumptions_.push_back(text);
        };
        job_.JobLogLevel = 1;
    }
    // Opens a video input at the given rate, quietly.
    void OpenVideo(int fpsNum, int fpsDen)
    {
        VideoSpec video;
        video.fpsNum = fpsNum;
        video.fpsDen = fpsDen;
        video.seconds = 0.5;
        AudioSpec audio;
        audio.seconds = 0.5;
        const std::string file =
            fpsNum == 25 || fpsDen == 1001
                ? MakeMpegPs(folder_.File("in.mpg"), video, audio)
                : MakeAviMpeg4Mp3(folder_.File("in.avi"), video, audio);
        job_.JobLogLevel = -1;
        ASSERT_TRUE(job_.OpenInputFile(file)) << job_.LastError;
        job_.JobLogLevel = 1;
    }
    int64_t VideoOption(const char* name)
    {
        int64_t value = 0;
        avutil.av_opt_get_int(job_.DefaultCodecContexts[mkVideo].get(), name, 0, &value);
        return value;
    }
    void ExpectRejected(const std::function<void()>& set, const std::string& message)
    {
        try {
            set();
            ADD_FAILURE() << "accepted; expected: " << message;
        } catch (const FFMpegException& error) {
            EXPECT_EQ(error.what(), message);
        }
    }

    TempDir folder_;
    std::mutex lock_;
    TCustomFFmpegHlpr job_{lock_};
    std::vector<std::string> assumptions_;
};

TEST_F(TargetPresets, VideoCdGuessesPalFromA25FrameInput)
{
    OpenVideo(25, 1);
    job_.SetTarget("vcd", "auto", "ntsc");
    EXPECT_EQ(assumptions_, std::vector<std::string>{"Assuming PAL for target."});
    EXPECT_EQ(job_.FrameWidth, 352);
    EXPECT_EQ(job_.FrameHeight, 288);
    EXPECT_EQ(job_.FrameRate.num, 25);
    EXPECT_EQ(job_.FrameRate.den, 1);
    EXPECT_EQ(VideoOption("g"), 15) << "the old group-of-pictures name must take effect";
    EXPECT_EQ(VideoOption("b"), 1150000);
    EXPECT_EQ(job_.VideoCodecName, "mpeg1video");
    EXPECT_EQ(job_.AudioCodecName, "mp2");
    EXPECT_STREQ(job_.ForcedOutputFormat->name, "vcd");
    EXPECT_EQ(job_.AudioSampleRate, 44100);
    EXPECT_FLOAT_EQ(job_.MuxPreload, 0.44f);
    EXPECT_FLOAT_EQ(job_.FrameAspectRatio, 4.0f / 3.0f);
}

TEST_F(TargetPresets, DvdGuessesNtscAndOnlyWidensMono)
{
    OpenVideo(30000, 1001);
    job_.AudioChannels = 1;
    job_.FrameAspectRatio = 0;  // the input's own aspect would stay
    job_.SetTarget("dvd", "auto", "pal");
    EXPECT_EQ(assumptions_, std::vector<std::string>{"Assuming NTSC for target."});
    EXPECT_EQ(job_.FrameWidth, 720);
    EXPECT_EQ(job_.FrameHeight, 480);
    EXPECT_EQ(VideoOption("g"), 18);
    EXPECT_EQ(job_.AudioSampleRate, 48000);
    EXPECT_EQ(job_.AudioChannels, 2);
    EXPECT_FLOAT_EQ(job_.FrameAspectRatio, 16.0f / 9.0f);

    TCustomFFmpegHlpr six(lock_);
    six.Reset();
    six.SetLogLevel(-1);
    six.SetFrameRate("25");
    six.AudioChannels = 6;
    six.FrameAspectRatio = 1.3333334f;
    six.SetTarget("dvd", "auto", "pal");
    EXPECT_EQ(six.AudioChannels, 6);
    EXPECT_FLOAT_EQ(six.FrameAspectRatio, 1.3333334f) << "a set aspect stays";
    six.SetLogLevel(1);
}

TEST_F(TargetPresets, UnknownRateFallsBackToTheDefaultNorm)
{
    OpenVideo(15, 1);
    job_.SetTarget("vcd", "auto", "ntsc");
    EXPECT_EQ(assumptions_, std::vector<std::string>{"Assuming NTSC for target."});
    EXPECT_EQ(job_.FrameWidth, 352);
    EXPECT_EQ(job_.FrameHeight, 240);
    EXPECT_EQ(job_.FrameRate.num, 30000);
}

TEST_F(TargetPresets, GivenNormsAreNotGuessedOrLogged)
{
    job_.SetTarget("svcd", "pal", "ntsc");
    EXPECT_TRUE(assumptions_.empty());
    EXPECT_EQ(job_.FrameWidth, 480);
    EXPECT_EQ(job_.FrameHeight, 576);
    job_.SetTarget("dv", "ntsc", "pal");
    EXPECT_EQ(job_.FramePixelFormat, AV_PIX_FMT_YUV411P);
    job_.SetTarget("dv50", "film", "pal");
    EXPECT_EQ(job_.FramePixelFormat, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(job_.FrameRate.num, 24000);
    EXPECT_EQ(job_.FrameHeight, 480) << "film shares the NTSC sizes";
}

TEST_F(TargetPresets, FailuresHaveTheirTexts)
{
    job_.JobLogLevel = -1;
    ASSERT_TRUE(job_.OpenInputFile(MakeWav(folder_.File("a.wav"), AudioSpec{})));
    ExpectRejected([&] { job_.SetTarget("svcd", "auto", "pal"); }, "frame_rate is invalid.");
    ExpectRejected([&] { job_.SetTarget("VCD", "pal", "pal"); }, "Unknown target type");
}

TEST_F(TargetPresets, PresetValuesReachTheEncodersAndTheMuxer)
{
    OpenVideo(25, 1);
    job_.SetTarget("vcd", "auto", "pal");
    job_.JobLogLevel = -1;
    ASSERT_TRUE(job_.OpenOutputFile(folder_.File("out.mpg"))) << job_.LastError;
    const TOutputFile& output = job_.OutputFiles[0];
    EXPECT_STREQ(output.Context->oformat->name, "vcd");
    EXPECT_EQ(output.Context->packet_size, 2324u);
    ASSERT_EQ(output.Streams.size(), 2u);
    const AVCodecContext* video = output.Streams[0].Encoder.get();
    EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG1VIDEO);
    EXPECT_EQ(video->bit_rate, 1150000);
    EXPECT_EQ(video->gop_size, 15);
    EXPECT_EQ(video->rc_max_rate, 1150000);
    EXPECT_EQ(video->rc_buffer_size, 327680);
    EXPECT_EQ(video->width, 352);
    EXPECT_EQ(video->time_base.den, 25);
    const AVCodecContext* audio = output.Streams[1].Encoder.get();
    EXPECT_EQ(audio->codec_id, AV_CODEC_ID_MP2);
    EXPECT_EQ(audio->bit_rate, 224000);
    EXPECT_EQ(audio->sample_rate, 44100);
    const AVDictionaryEntry* muxrate =
        avutil.av_dict_get(output.MuxerOptions.Get(), "muxrate", nullptr, 0);
    ASSERT_NE(muxrate, nullptr);
    EXPECT_STREQ(muxrate->value, "1411200");
    const AVDictionaryEntry* preload =
        avutil.av_dict_get(output.MuxerOptions.Get(), "preload", nullptr, 0);
    ASSERT_NE(preload, nullptr);
    EXPECT_STREQ(preload->value, "440000");
}

TEST_F(TargetPresets, SuperVideoCdScanOffsetReachesTheMpeg2Encoder)
{
    OpenVideo(25, 1);
    job_.SetTarget("svcd", "auto", "pal");
    job_.JobLogLevel = -1;
    ASSERT_TRUE(job_.OpenOutputFile(folder_.File("out.mpg"))) << job_.LastError;
    const TOutputStreamSetup& video = job_.OutputFiles[0].Streams[0];
    EXPECT_EQ(video.Encoder->codec_id, AV_CODEC_ID_MPEG2VIDEO);
    const AVDictionaryEntry* scanOffset =
        avutil.av_dict_get(video.EncoderOptions.Get(), "scan_offset", nullptr, 0);
    ASSERT_NE(scanOffset, nullptr);
    EXPECT_STREQ(scanOffset->value, "1");
}

}  // namespace
}  // namespace kelvaro
