#include "converter/option_records.h"

#include <gtest/gtest.h>

#include <ctime>

#include "converter/ffmpeg_hlpr.h"
#include "fixtures/media_fixtures.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

class OutputOptionsTranslation : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::LoadMediaLibrariesForTest();
        job_.Reset();
        InitOutputOptions(options_);
    }
    void Apply() { ApplyOutputOptions(job_, options_, DefaultSystemColors()); }
    // The FFMpegException text of Apply, or "" when it raised none.
    std::string ApplyError()
    {
        try {
            Apply();
        } catch (const FFMpegException& error) {
            return error.what();
        }
        return {};
    }
    int64_t AudioBitRate() const { return job_.DefaultCodecContexts[mkAudio]->bit_rate; }

    std::mutex lock_;
    TFFmpegHlpr job_{lock_};
    TOutputOptions options_;
};

TEST(OutputOptionsDefaults, InitRestoresEveryNotSetValue)
{
    TOutputOptions options;
    options.AudioBitrate = 5;
    options.Title[0] = 'x';
    options.Genre[31] = 'y';
    options.FallbackNorm = 7;
    options.ExtraOptions = "ab=1";
    InitOutputOptions(options);
    EXPECT_EQ(options.AudioBitrate, -1);
    EXPECT_EQ(options.MaxDelay, -1.0f);
    EXPECT_EQ(options.Timestamp, -1);
    EXPECT_EQ(options.DisableVideo, 0);
    EXPECT_EQ(options.PadColor, 0u);
    EXPECT_EQ(options.Target, 0);
    EXPECT_EQ(options.FallbackNorm, 1);
    EXPECT_TRUE(options.ExtraOptions.empty());
    EXPECT_EQ(TagText(options.Title), "");
    EXPECT_EQ(options.Genre[31], '\0');
}

TEST_F(OutputOptionsTranslation, FreshRecordChangesOnlyTimestampsPadColourAndLanguages)
{
    options_.FileName = "out.wav";
    job_.KeepTimestamps = true;
    job_.AudioLanguage = "eng";
    job_.SubtitleLanguage = "fra";
    Apply();
    EXPECT_FALSE(job_.KeepTimestamps);
    EXPECT_EQ(job_.AudioLanguage, "");
    EXPECT_EQ(job_.SubtitleLanguage, "");
    EXPECT_EQ(job_.PadColorY, 0);  // black
    EXPECT_EQ(job_.PadColorU, 128);
    EXPECT_EQ(job_.PadColorV, 128);

    EXPECT_EQ(job_.ForcedOutputFormat, nullptr);
    EXPECT_TRUE(job_.AudioCodecName.empty());
    EXPECT_TRUE(job_.VideoCodecName.empty());
    EXPECT_EQ(job_.AudioCopy + job_.VideoCopy + job_.AudioDisable + job_.VideoDisable +
                  job_.SubtitleDisable,
              0);
    EXPECT_EQ(job_.AudioVolume, 256);
    EXPECT_EQ(job_.AudioChannels, 2);
    EXPECT_EQ(job_.AudioSampleRate, 44100);
    EXPECT_EQ(job_.FrameRate.den, 0);
    EXPECT_EQ(job_.FrameWidth + job_.FrameHeight, 0);
    EXPECT_EQ(job_.CropTop + job_.CropBottom + job_.CropLeft + job_.CropRight, 0);
    EXPECT_EQ(job_.PadTop + job_.PadBottom + job_.PadLeft + job_.PadRight, 0);
    EXPECT_EQ(job_.FrameAspectRatio, 0.0f);
    EXPECT_EQ(job_.MuxPreload, 0.5f);
    EXPECT_EQ(job_.MuxMaxDelay, 0.7f);
    EXPECT_EQ(job_.StartTime, 0);
    EXPECT_EQ(job_.RecordingTime, 0);
    EXPECT_EQ(job_.TotalDurationMs, -1);
    EXPECT_EQ(job_.RecordTimestamp, 0);
    EXPECT_EQ(job_.Year + job_.Track, 0);
    EXPECT_TRUE(job_.Title.empty() && job_.Author.empty() && job_.Copyright.empty() &&
                job_.Comment.empty() && job_.Album.empty() && job_.Genre.empty());
    EXPECT_EQ(job_.TagCopyMapCount, 0) << "the input's tags stay behind";
    EXPECT_TRUE(job_.OptionNames.empty()) << "no option and no preset";
    EXPECT_TRUE(job_.PrivateOptions.empty());
}

TEST_F(OutputOptionsTranslation, NumbersAtOrBelowZeroAreNotSetExceptAVolumeOfZero)
{
    options_.AudioBitrate = 0;
    options_.Volume = -1;
    Apply();
    EXPECT_TRUE(job_.OptionNames.empty());
    EXPECT_EQ(job_.AudioVolume, 256);

    options_.AudioBitrate = 128000;
    options_.Volume = 0;
    options_.DisableVideo = -1;
    options_.AudioChannels = 1;
    options_.SampleRate = 22050;
    Apply();
    EXPECT_EQ(AudioBitRate(), 128000);
    EXPECT_EQ(job_.OptionNames.size(), 1u);
    EXPECT_EQ(job_.AudioVolume, 0) << "silence is a volume";
    EXPECT_EQ(job_.VideoDisable, 1);
    EXPECT_EQ(job_.AudioChannels, 1);
    EXPECT_EQ(job_.AudioSampleRate, 22050);
}

TEST_F(OutputOptionsTranslation, FieldsOverrideTheOptionTextAndThePresetOverridesBoth)
{
    options_.ExtraOptions = "ab=64000\npacketsize=1000";
    options_.AudioBitrate = 128000;
    Apply();
    EXPECT_EQ(AudioBitRate(), 128000);
    EXPECT_EQ(job_.DefaultFormatContext->packet_size, 1000u);

    options_.AudioCodec = "wmav2";
    options_.FrameRate = "25";
    options_.Target = 3;
    Apply();
    EXPECT_EQ(job_.AudioCodecName, "ac3");
    EXPECT_EQ(AudioBitRate(), 448000);
    EXPECT_EQ(job_.DefaultFormatContext->packet_size, 2048u);
    EXPECT_EQ(job_.FrameWidth, 720);
    EXPECT_EQ(job_.FrameHeight, 576) << "25 frames per second name PAL";
}

TEST_F(OutputOptionsTranslation, TargetTwoWithAutomaticNormFallsBackAsTold)
{
    options_.FrameRate = "10";  // names no norm, and there is no input to ask
    options_.Target = 2;
    options_.TargetNorm = 0;
    options_.FallbackNorm = 0;
    Apply();
    EXPECT_EQ(job_.VideoCodecName, "mpeg2video");
    EXPECT_EQ(job_.FrameWidth, 480);
    EXPECT_EQ(job_.FrameHeight, 480) << "the NTSC picture of the svcd preset";
    EXPECT_EQ(job_.FrameRate.num, 30000);
    EXPECT_EQ(job_.FrameRate.den, 1001);

    options_.Target = 5;
    options_.TargetNorm = 3;
    Apply();
    EXPECT_EQ(job_.FramePixelFormat, AV_PIX_FMT_YUV422P) << "dv50";
    EXPECT_EQ(job_.FrameRate.num, 24000) << "film";

    options_.Target = 6;
    options_.FrameSize = "320x240";
    Apply();
    EXPECT_EQ(job_.FrameWidth, 320) << "no preset beyond 5";
}

TEST_F(OutputOptionsTranslation, ATargetMakesAWholeVideoOutputOfAVideoInput)
{
    fixtures::TempDir folder;
    fixtures::VideoSpec video;
    video.seconds = 0.4;
    fixtures::AudioSpec audio;
    audio.seconds = 0.4;
    job_.JobLogLevel = -1;
    ASSERT_TRUE(job_.OpenInputFile(fixtures::MakeMpegPs(folder.File("in.mpg"), video, audio)));
    options_.Target = 3;
    Apply();
    ASSERT_TRUE(job_.OpenOutputFile(folder.File("out.vob"))) << job_.LastError;
    job_.StartTranscode(false, tpNormal);
    ASSERT_TRUE(job_.Finished) << job_.TranscodeError;
    const fixtures::MediaInfo info = fixtures::Probe(folder.File("out.vob"));
    std::vector<std::string> streams;
    for (const fixtures::StreamInfo& stream : info.streams)
        streams.push_back(stream.codec + " " + std::to_string(stream.width) + "x" +
                          std::to_string(stream.height) + " " + std::to_string(stream.sampleRate));
    EXPECT_EQ(streams, (std::vector<std::string>{"dvd_nav_packet 0x0 0", "mpeg2video 720x576 0",
                                                 "ac3 0x0 48000"}));
}

TEST_F(OutputOptionsTranslation, UnknownFormatStopsBeforeAnyOtherField)
{
    options_.FormatName = "nosuchformat";
    options_.AudioCodec = "wmav2";
    options_.PacketSize = 2324;
    EXPECT_EQ(ApplyError(), "Unknown output format: nosuchformat");
    EXPECT_TRUE(job_.AudioCodecName.empty());
    EXPECT_TRUE(job_.OptionNames.empty());
}

TEST_F(OutputOptionsTranslation, TheFirstRejectedValueEndsTheTranslationAndEarlierOnesStay)
{
    options_.AudioCodec = "wmav2";
    options_.FrameRate = "abc";
    options_.FrameSize = "320x240";
    options_.Year = 2008;
    EXPECT_EQ(ApplyError(), "Incorrect frame rate");
    EXPECT_EQ(job_.AudioCodecName, "wmav2");
    EXPECT_EQ(job_.FrameWidth, 0);
    EXPECT_EQ(job_.Year, 0);

    InitOutputOptions(options_);
    options_.AspectRatio = "4:0";
    EXPECT_EQ(ApplyError(), "Incorrect aspect ratio specification.");
}

TEST_F(OutputOptionsTranslation, CropsAreCheckedAgainstTheFrameSizeSetBeforeThem)
{
    options_.FrameSize = "320x240";
    options_.CropTop = 10;
    options_.PadLeft = 8;
    Apply();
    EXPECT_EQ(job_.FrameHeight, 230);
    EXPECT_EQ(job_.PadLeft, 8);

    InitOutputOptions(options_);
    options_.CropBottom = 7;
    EXPECT_EQ(ApplyError(), "Bottom crop size must be a multiple of 2");
}

TEST_F(OutputOptionsTranslation, PadColourResolvesSystemColoursThroughTheTable)
{
    constexpr TColor red = 0x0000FF;
    options_.PadColor = red;
    Apply();
    EXPECT_EQ(job_.PadColorY, 76);
    EXPECT_EQ(job_.PadColorU, 85);
    EXPECT_EQ(job_.PadColorV, 255);

    TSystemColorTable palette = DefaultSystemColors();
    palette[scWindow] = red;
    options_.PadColor = SystemColorReference(scWindow);
    ApplyOutputOptions(job_, options_, DefaultSystemColors());
    EXPECT_EQ(job_.PadColorY, 255) << "the default window colour is white";
    ApplyOutputOptions(job_, options_, palette);
    EXPECT_EQ(job_.PadColorY, 76) << "an application's palette replaces the default";
    EXPECT_EQ(ColorToRgb(kSystemColorFlag | 200, palette), 0u) << "unknown: black";
}

TEST_F(OutputOptionsTranslation, TimestampZeroMeansNowAndNegativeLeavesItUnstamped)
{
    Apply();
    EXPECT_EQ(job_.RecordTimestamp, 0);
    options_.Timestamp = 0;
    Apply();
    EXPECT_NEAR(static_cast<double>(job_.RecordTimestamp), static_cast<double>(std::time(nullptr)),
                5.0);
    options_.Timestamp = 1200000000;
    Apply();
    EXPECT_EQ(job_.RecordTimestamp, 1200000000);
}

TEST_F(OutputOptionsTranslation, TagsTakeTheWholeArrayWhenItHoldsNoNul)
{
    std::fill(std::begin(options_.Title), std::end(options_.Title), 't');
    SetTagText(options_.Genre, "Ambient");
    SetTagText(options_.Album, std::string(600, 'a'));
    options_.Year = 2008;
    options_.Track = 3;
    options_.Duration = 90000;
    options_.StartTime = 1500;
    options_.CopyTags = 1;
    Apply();
    EXPECT_EQ(job_.Title, std::string(512, 't'));
    EXPECT_EQ(job_.Album, std::string(512, 'a')) << "cut to the array";
    EXPECT_EQ(job_.Genre, "Ambient");
    EXPECT_EQ(job_.Year, 2008);
    EXPECT_EQ(job_.Track, 3);
    EXPECT_EQ(job_.RecordingTime, 90000000);
    EXPECT_EQ(job_.TotalDurationMs, 90000) << "the recording length is the expected total";
    // The input's tags go into the output the record is for: the job's next.
    ASSERT_EQ(job_.TagCopyMapCount, 1);
    EXPECT_EQ(job_.TagCopyMaps[0].OutputFile, 0);
    EXPECT_EQ(job_.TagCopyMaps[0].InputFile, 0);
}

TEST_F(OutputOptionsTranslation, InputOptionsForceTheDemuxerAfterTheOptionText)
{
    TInputOptions input;
    input.ExtraOptions = "probesize=5000000";
    input.FormatName = "mpeg";
    ApplyInputOptions(job_, input);
    ASSERT_NE(job_.ForcedInputFormat, nullptr);
    EXPECT_STREQ(job_.ForcedInputFormat->name, "mpeg");
    EXPECT_EQ(job_.OptionNames, (std::vector<std::string>{"probesize"}));

    input.FormatName = "nosuchdemuxer";
    EXPECT_THROW(
        {
            try {
                ApplyInputOptions(job_, input);
            } catch (const FFMpegException& error) {
                EXPECT_STREQ(error.what(), "Unknown input format: nosuchdemuxer");
                throw;
            }
        },
        FFMpegException);
}

}  // namespace
}  // namespace kelvaro
