#include <gtest/gtest.h>

#include "engine/job.h"
#include "medialib/log_levels.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::LoadMediaLibrariesForTest();
        job_.Reset();
        job_.LogHandler = [this](TCustomFFmpegHlpr&, int level, const std::string& text) {
            log_.emplace_back(level, text);
        };
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
    int64_t CodecOption(TMediaKind kind, const char* name)
    {
        int64_t value = 0;
        avutil.av_opt_get_int(job_.DefaultCodecContexts[kind].get(), name, 0, &value);
        return value;
    }

    std::mutex lock_;
    TCustomFFmpegHlpr job_{lock_};
    std::vector<std::pair<int, std::string>> log_;
};

TEST_F(Settings, CropsAreEvenAndInsideWhatIsLeftOfThePicture)
{
    job_.FrameWidth = 320;
    job_.FrameHeight = 240;
    job_.SetCropTop(10);
    EXPECT_EQ(job_.CropTop, 10);
    EXPECT_EQ(job_.FrameHeight, 230);
    ExpectRejected([&] { job_.SetCropTop(230); },
                   "Vertical crop dimensions are outside the range of the original image.\n"
                   "Remember to crop first and scale second.");
    ExpectRejected([&] { job_.SetCropTop(7); }, "Top crop size must be a multiple of 2");
    ExpectRejected([&] { job_.SetCropBottom(3); }, "Bottom crop size must be a multiple of 2");
    ExpectRejected([&] { job_.SetCropLeft(320); },
                   "Horizontal crop dimensions are outside the range of the original image.\n"
                   "Remember to crop first and scale second.");
    ExpectRejected([&] { job_.SetCropRight(1); }, "Right crop size must be a multiple of 2");
    job_.SetCropLeft(-4);
    EXPECT_EQ(job_.CropLeft, 0) << "negative values are not set";
    job_.SetCropLeft(16);
    job_.SetCropRight(16);
    EXPECT_EQ(job_.FrameWidth, 288);
    EXPECT_EQ(job_.FrameHeight, 230) << "a rejected crop changes nothing";
}

TEST_F(Settings, PadsAreEven)
{
    job_.SetPadTop(8);
    job_.SetPadLeft(-2);
    EXPECT_EQ(job_.PadTop, 8);
    EXPECT_EQ(job_.PadLeft, 0);
    ExpectRejected([&] { job_.SetPadBottom(5); }, "Bottom pad size must be a multiple of 2");
    ExpectRejected([&] { job_.SetPadLeft(1); }, "Left pad size must be a multiple of 2");
    ExpectRejected([&] { job_.SetPadRight(9); }, "Right pad size must be a multiple of 2");
    ExpectRejected([&] { job_.SetPadTop(3); }, "Top pad size must be a multiple of 2");
}

TEST_F(Settings, FrameSizeAndRateTexts)
{
    job_.SetFrameSize("352x288");
    EXPECT_EQ(job_.FrameWidth, 352);
    EXPECT_EQ(job_.FrameHeight, 288);
    ExpectRejected([&] { job_.SetFrameSize("351x240"); }, "Frame size must be a multiple of 2");
    EXPECT_EQ(job_.FrameWidth, 351) << "the parsed size stays stored";
    ExpectRejected([&] { job_.SetFrameSize("abc"); }, "Incorrect frame size");
    job_.SetFrameSize("");
    EXPECT_EQ(job_.FrameHeight, 240);

    job_.SetFrameRate("30000/1001");
    EXPECT_EQ(job_.FrameRate.num, 30000);
    EXPECT_EQ(job_.FrameRate.den, 1001);
    ExpectRejected([&] { job_.SetFrameRate("fast"); }, "Incorrect frame rate");
    ExpectRejected([&] { job_.SetFrameRate("25/0"); }, "Incorrect frame rate");
}

TEST_F(Settings, AspectRatioTexts)
{
    job_.SetAspectRatio("16:9");
    EXPECT_FLOAT_EQ(job_.FrameAspectRatio, 1.7777778f);
    job_.SetAspectRatio("1.85");
    EXPECT_FLOAT_EQ(job_.FrameAspectRatio, 1.85f);
    job_.SetAspectRatio("-4:3");
    EXPECT_FLOAT_EQ(job_.FrameAspectRatio, -4.0f / 3.0f) << "a negative value is stored";
    for (const char* text : {"4:0", "0", "wide", "x:3"})
        ExpectRejected([&] { job_.SetAspectRatio(text); },
                       "Incorrect aspect ratio specification.");
}

TEST_F(Settings, PadColourIsConvertedToLumaAndChroma)
{
    job_.SetPadColor(0x0000ff);  // red in the low byte
    EXPECT_EQ(job_.PadColorY, 76);
    EXPECT_EQ(job_.PadColorU, 85);
    EXPECT_EQ(job_.PadColorV, 255);
    job_.SetPadColor(0);
    EXPECT_EQ(job_.PadColorY, 0);
    EXPECT_EQ(job_.PadColorU, 128);
    EXPECT_EQ(job_.PadColorV, 128);
    job_.SetPadColor(0xffffff);
    EXPECT_EQ(job_.PadColorY, 255);
    EXPECT_EQ(job_.PadColorU, 128);
    EXPECT_EQ(job_.PadColorV, 128);
}

TEST_F(Settings, FormatsByNameWithTheDeprecatedPgmYuvName)
{
    job_.SetOutputFormat("wav");
    ASSERT_NE(job_.ForcedOutputFormat, nullptr);
    EXPECT_STREQ(job_.ForcedOutputFormat->name, "wav");
    ExpectRejected([&] { job_.SetOutputFormat("nosuch"); }, "Unknown output format: nosuch");
    ExpectRejected([&] { job_.SetInputFormat("nosuch"); }, "Unknown input format: nosuch");

    job_.SetInputFormat("pgmyuv");
    EXPECT_EQ(job_.PgmYuvRequested, 1);
    EXPECT_STREQ(job_.ForcedInputFormat->name, "image2");
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0], std::make_pair(1, std::string("pgmyuv format is deprecated, use image2")));
    job_.SetInputFormat("");
    EXPECT_STREQ(job_.ForcedInputFormat->name, "image2") << "empty changes nothing";
}

TEST_F(Settings, CopyFlagAndCodecNames)
{
    job_.SetVideoCodec("copy");
    EXPECT_EQ(job_.VideoCopy, 1);
    EXPECT_EQ(job_.VideoCodecName, "");
    job_.SetVideoCodec("mpeg2video");
    EXPECT_EQ(job_.VideoCodecName, "mpeg2video");
    EXPECT_EQ(job_.VideoCopy, 1) << "a name does not clear an earlier copy";
    job_.SetAudioCodec("wmav2");
    job_.SetAudioCodec("");
    EXPECT_EQ(job_.AudioCodecName, "wmav2");
}

TEST_F(Settings, TimesAndValuesOutsideTheirRangeChangeNothing)
{
    job_.SetRecordingTime(0);
    EXPECT_EQ(job_.RecordingTime, 0);
    job_.SetRecordingTime(90000);
    EXPECT_EQ(job_.RecordingTime, 90000000);
    EXPECT_EQ(job_.TotalDurationMs, 90000);
    job_.SetRecordingTime(3000000);
    EXPECT_EQ(job_.RecordingTime, 3000000000LL) << "50 minutes need 64 bits";

    job_.SetAudioVolume(-1);
    EXPECT_EQ(job_.AudioVolume, 256);
    job_.SetAudioVolume(0);
    EXPECT_EQ(job_.AudioVolume, 0);
    job_.SetAudioSampleRate(0);
    job_.SetAudioChannels(-1);
    EXPECT_EQ(job_.AudioSampleRate, 44100);
    EXPECT_EQ(job_.AudioChannels, 2);
    job_.SetMuxPreload(0);
    EXPECT_FLOAT_EQ(job_.MuxPreload, 0.5f);
    job_.SetYear(0);
    job_.SetTitle("");
    EXPECT_EQ(job_.Year, 0);
    EXPECT_EQ(job_.Title, "");

    job_.SetRecordTimestamp(-1);
    EXPECT_EQ(job_.RecordTimestamp, 0);
    job_.SetRecordTimestamp(1200000000);
    EXPECT_EQ(job_.RecordTimestamp, 1200000000);
    const int64_t before = std::time(nullptr);
    job_.SetRecordTimestamp(0);
    EXPECT_GE(job_.RecordTimestamp, before);
    EXPECT_LE(job_.RecordTimestamp, std::time(nullptr));
}

TEST_F(Settings, PixelFormatByNameOrTheList)
{
    job_.SetPixelFormat("yuv422p");
    EXPECT_EQ(job_.FramePixelFormat, AV_PIX_FMT_YUV422P);
    job_.SetPixelFormat("nosuch");
    EXPECT_EQ(job_.FramePixelFormat, -1);
    job_.SetPixelFormat("list");
    EXPECT_EQ(job_.FramePixelFormat, -1) << "listing stores nothing";
    ASSERT_GT(log_.size(), 40u);
    EXPECT_EQ(log_[0].second.rfind("name", 0), 0u) << log_[0].second;
    EXPECT_EQ(log_[1].second.rfind("yuv420p", 0), 0u) << log_[1].second;
}

TEST_F(Settings, OptionsReachTheDefaultsOfTheirKindAndAreRecordedByTheirOwnName)
{
    EXPECT_TRUE(job_.SetOption("ab", "224000"));
    EXPECT_EQ(CodecOption(mkAudio, "b"), 224000);
    EXPECT_NE(CodecOption(mkVideo, "b"), 224000);

    EXPECT_TRUE(job_.SetOption("vb", "2000000")) << "the prefix rule";
    EXPECT_EQ(CodecOption(mkVideo, "b"), 2000000);
    EXPECT_EQ(CodecOption(mkAudio, "b"), 224000);

    EXPECT_TRUE(job_.SetOption("packetsize", "2324"));
    int64_t packetSize = 0;
    avutil.av_opt_get_int(job_.DefaultFormatContext.get(), "packetsize", 0, &packetSize);
    EXPECT_EQ(packetSize, 2324);
    EXPECT_TRUE(job_.SetOption("sws_flags", "bilinear"));

    EXPECT_EQ(job_.OptionNames, (std::vector<std::string>{"ab", "b", "packetsize", "sws_flags"}));

    EXPECT_FALSE(job_.SetOption("nosuchoption", "1"));
    EXPECT_FALSE(job_.SetOption("ab", "   "));
    EXPECT_FALSE(job_.SetOption(" ", "1"));
    EXPECT_FALSE(job_.SetOption("ab", "not a number"));
    EXPECT_EQ(job_.OptionNames.size(), 4u) << "failures record nothing";

    // Options private to some muxer are checked against what that muxer takes.
    EXPECT_FALSE(job_.SetOption("muxrate", "abc"));
    EXPECT_FALSE(job_.SetOption("rf64", "sometimes"));
    EXPECT_TRUE(job_.SetOption("rf64", "always"));
    EXPECT_TRUE(job_.SetOption("muxrate", "10080000"));
    EXPECT_EQ(job_.PrivateOptions.size(), 2u);
    job_.Reset();
    EXPECT_TRUE(job_.OptionNames.empty());
    EXPECT_TRUE(job_.PrivateOptions.empty()) << "nothing reaches the next output";
}

TEST_F(Settings, OldOptionNamesResolveToTheCurrentOnes)
{
    EXPECT_TRUE(job_.SetOption("gop", "18"));
    EXPECT_EQ(CodecOption(mkVideo, "g"), 18);
    EXPECT_TRUE(job_.SetOption("g", "12")) << "the current name works too";
    EXPECT_EQ(CodecOption(mkVideo, "g"), 12);

    EXPECT_TRUE(job_.SetOption("flags", "+SCAN_OFFSET"));
    EXPECT_TRUE(job_.SetOption("muxrate", "1411200"));
    ASSERT_EQ(job_.PrivateOptions.size(), 2u);
    EXPECT_EQ(job_.PrivateOptions[0].Name, "scan_offset");
    EXPECT_EQ(job_.PrivateOptions[0].Value, "1");
    EXPECT_FALSE(job_.PrivateOptions[0].OfFormat);
    EXPECT_EQ(job_.PrivateOptions[1].Name, "muxrate");
    EXPECT_TRUE(job_.PrivateOptions[1].OfFormat);
}

TEST_F(Settings, DebugFlagsRaiseTheLogLevel)
{
    job_.SetLogLevel(1);
    EXPECT_TRUE(job_.SetOption("debug", "pict"));
    EXPECT_EQ(job_.JobLogLevel, 2);
    EXPECT_EQ(LogThreshold.load(), 2);
    EXPECT_EQ(avutil.av_log_get_level(), AV_LOG_DEBUG);
    job_.SetLogLevel(1);
}

TEST_F(Settings, RecordedOptionsAreReplayedOnlyWhereTheirFlagsFit)
{
    job_.SetOption("ab", "96000");
    job_.SetOption("g", "30");
    job_.SetOption("scan_offset", "1");
    CodecContextPtr audio(avcodec.avcodec_alloc_context3(nullptr));
    Dictionary audioPrivate;
    job_.ApplyRecordedOptions(audio.get(), job_.DefaultCodecContexts[mkAudio].get(),
                              AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, &audioPrivate);
    EXPECT_EQ(audio->bit_rate, 96000);
    EXPECT_NE(audio->gop_size, 30) << "a video option stays off audio";
    EXPECT_EQ(avutil.av_dict_count(audioPrivate.Get()), 0);

    CodecContextPtr video(avcodec.avcodec_alloc_context3(nullptr));
    Dictionary videoPrivate;
    job_.ApplyRecordedOptions(video.get(), job_.DefaultCodecContexts[mkVideo].get(),
                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, &videoPrivate);
    EXPECT_EQ(video->gop_size, 30);
    EXPECT_NE(video->bit_rate, 96000);
    ASSERT_NE(avutil.av_dict_get(videoPrivate.Get(), "scan_offset", nullptr, 0), nullptr);
}

TEST_F(Settings, CodecIdsByNameAndKind)
{
    AVCodecID id = AV_CODEC_ID_NONE;
    EXPECT_TRUE(job_.FindCodecId("wmav2", mkAudio, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_WMAV2);
    EXPECT_TRUE(job_.FindCodecId("", mkVideo, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_NONE);
    EXPECT_FALSE(job_.FindCodecId("nosuch", mkAudio, false, id));
    EXPECT_EQ(job_.LastError, "Unknown decoder 'nosuch'");
    EXPECT_FALSE(job_.FindCodecId("mp2", mkVideo, true, id));
    EXPECT_EQ(job_.LastError, "Invalid encoder type 'mp2'");
}

TEST_F(Settings, RealVideoDecoderChoiceIsProcessWide)
{
    EXPECT_TRUE(TCustomFFmpegHlpr::UseLibraryRealVideoDecoders());
    TCustomFFmpegHlpr::SelectRealVideoDecoder(false);
    EXPECT_FALSE(TCustomFFmpegHlpr::UseLibraryRealVideoDecoders());
    TCustomFFmpegHlpr::SelectRealVideoDecoder(true);
    EXPECT_TRUE(TCustomFFmpegHlpr::UseLibraryRealVideoDecoders());
}

}  // namespace
}  // namespace kelvaro
