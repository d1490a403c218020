#include "converter/conversion_rule.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "converter/av_converter.h"
#include "fixtures/media_fixtures.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

TEST(ConversionRuleNames, OutputIsTheFolderPlusTheNameWithoutItsLastExtension)
{
    EXPECT_EQ(OutputFileName("/out/", "/music/song.mp3", ".wma"), "/out/song.wma");
    EXPECT_EQ(OutputFileName("/out/", "archive.tar.gz", ".wav"), "/out/archive.tar.wav");
    EXPECT_EQ(OutputFileName("/out/", "/music/README", ".wma"), "/out/README.wma");
    EXPECT_EQ(OutputFileName("/out/", "/in.d/README", ".wma"), "/out/README.wma")
        << "a dot in the folder is not an extension";
    EXPECT_EQ(OutputFileName("/out/", "/music/Song.Live.FLAC", ".wav"), "/out/Song.Live.wav");
}

TEST(ConversionRuleNames, FileNameIsWhatFollowsTheLastSlash)
{
    EXPECT_EQ(FileNamePart("/music/live/song.mp3"), "song.mp3");
    EXPECT_EQ(FileNamePart("song.mp3"), "song.mp3");
    EXPECT_EQ(FileNamePart("/music/"), "");
}

TEST(ConversionRuleNames, FolderGainsItsSeparatorOnlyWhenMissing)
{
    EXPECT_EQ(FolderWithSeparator("/out"), "/out/");
    EXPECT_EQ(FolderWithSeparator("/out/"), "/out/");
    EXPECT_EQ(FolderWithSeparator("C:"), "C:/") << "no drive letters here";
    EXPECT_EQ(FolderWithSeparator(""), "");
    EXPECT_EQ(TargetExtension(TTargetFormat::Wma), ".wma");
    EXPECT_EQ(TargetExtension(TTargetFormat::Wav), ".wav");
}

TEST(ConversionRuleInput, DatFilesInAnyCaseAreReadAsMpegProgramStreams)
{
    EXPECT_EQ(ConversionInputOptions("/vcd/AVSEQ01.DAT").FormatName, "mpeg");
    EXPECT_EQ(ConversionInputOptions("/vcd/avseq01.dat").FormatName, "mpeg");
    EXPECT_EQ(ConversionInputOptions("/vcd/Avseq01.Dat").FormatName, "mpeg");
    EXPECT_EQ(ConversionInputOptions("/music/song.mp3").FormatName, "");
    EXPECT_EQ(ConversionInputOptions("/music/song.dat.mp3").FormatName, "");
    EXPECT_EQ(ConversionInputOptions("/disc.dat/track").FormatName, "");
    EXPECT_EQ(ConversionInputOptions("/music/song.mp3").FileName, "/music/song.mp3");
    EXPECT_TRUE(ConversionInputOptions("/vcd/AVSEQ01.DAT").ExtraOptions.empty());
}

TInputDescription Audio(int channels, int sampleRate)
{
    TInputDescription input;
    input.AudioChannels = channels;
    input.AudioSampleRate = sampleRate;
    return input;
}

TEST(ConversionRuleOutput, WmaIsWmav2At128kWithoutVideoFollowingTheInput)
{
    const TOutputOptions wma =
        ConversionOutputOptions(TTargetFormat::Wma, "/out/a.wma", Audio(2, 44100));
    EXPECT_EQ(wma.FileExt, ".wma");
    EXPECT_EQ(wma.FileName, "/out/a.wma");
    EXPECT_EQ(wma.AudioCodec, "wmav2");
    EXPECT_EQ(wma.AudioBitrate, 128000);
    EXPECT_NE(wma.DisableVideo, 0);
    EXPECT_EQ(wma.FormatName, "") << "the muxer follows the extension";
    EXPECT_EQ(wma.AudioChannels, -1);
    EXPECT_EQ(wma.SampleRate, -1);
    EXPECT_EQ(wma.Volume, -1);
    EXPECT_NE(wma.CopyTags, 0) << "the input's tags come along";

    const TOutputOptions limit =
        ConversionOutputOptions(TTargetFormat::Wma, "/out/a.wma", Audio(2, 48000));
    EXPECT_EQ(limit.AudioChannels, -1);
    EXPECT_EQ(limit.SampleRate, -1);
}

TEST(ConversionRuleOutput, WmaMixesDownAndResamplesWhatItsEncoderCannotTake)
{
    const TOutputOptions wma =
        ConversionOutputOptions(TTargetFormat::Wma, "/out/a.wma", Audio(6, 96000));
    EXPECT_EQ(wma.AudioChannels, 2);
    EXPECT_EQ(wma.SampleRate, 48000);
    EXPECT_EQ(wma.AudioCodec, "wmav2");
}

TEST(ConversionRuleOutput, WavUsesTheWavMuxerAndKeepsFollowingTheInput)
{
    const TOutputOptions wav =
        ConversionOutputOptions(TTargetFormat::Wav, "/out/a.wav", Audio(6, 96000));
    EXPECT_EQ(wav.FileExt, ".wav");
    EXPECT_EQ(wav.FormatName, "wav");
    EXPECT_EQ(wav.AudioCodec, "");
    EXPECT_EQ(wav.AudioBitrate, -1);
    EXPECT_NE(wav.DisableVideo, 0);
    EXPECT_EQ(wav.AudioChannels, -1);
    EXPECT_EQ(wav.SampleRate, -1);
    EXPECT_NE(wav.CopyTags, 0);
}

TEST(OutputClaims, ASecondWriterOfOneFileIsRefusedNamingTheFirst)
{
    TOutputClaims claims({"/a/song.wav", "/b/song.flac"});
    EXPECT_EQ(claims.Claim("/a/song.wav", "/out/song.wma"), "");
    EXPECT_EQ(claims.Claim("/b/song.flac", "/out/song.wma"),
              "/out/song.wma is already the output of /a/song.wav");
    EXPECT_EQ(claims.Claim("/b/song.flac", "/out/../out/song.wma"),
              "/out/../out/song.wma is already the output of /a/song.wav")
        << "another name of the same file";
    EXPECT_EQ(claims.Claim("/b/song.flac", "/out/other.wma"), "");
}

TEST(OutputClaims, AnOutputOverAnotherEntrysInputIsRefusedEvenWhenThatGetsNoJob)
{
    fixtures::TempDir dir;
    std::filesystem::create_directories(dir.File("out"));
    const std::string input = fixtures::MakeRawFile(dir.File("out/a.wav"), "x");
    TOutputClaims claims({dir.File("x/a.mp3"), dir.File("out/../out/a.wav")});
    EXPECT_EQ(claims.Claim(dir.File("x/a.mp3"), input),
              input + " would overwrite the input " + dir.File("out/../out/a.wav"));
    // Refused, so not claimed: the file's own entry may still have it (the engine then
    // refuses to write over its input).
    EXPECT_EQ(claims.Claim(dir.File("out/../out/a.wav"), input), "");
}

class AddConversionJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::LoadMediaLibrariesForTest();
        ASSERT_TRUE(converter_.LoadLibraries("", true));
    }
    fixtures::TempDir dir_;
    TLumoAVConverter converter_;
};

TEST_F(AddConversionJobTest, SetsUpTheJobAndItsOutputInTheFolder)
{
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 0.2;
    const std::string input = fixtures::MakeWav(dir_.File("take.one.wav"), audioSpec);
    std::string folder = dir_.Path() + "/out";
    std::filesystem::create_directory(folder);

    const TConversionJob job = AddConversionJob(converter_, input, TTargetFormat::Wma, folder);
    EXPECT_EQ(folder, dir_.Path() + "/out/");
    EXPECT_EQ(job.Index, 0);
    EXPECT_TRUE(job.OutputSet) << converter_.LastError();
    EXPECT_EQ(job.OutputFileName, dir_.Path() + "/out/take.one.wma");
    EXPECT_EQ(converter_.InputContext(0).FileName, input);
    EXPECT_EQ(converter_.InputContext(0).Size,
              static_cast<int64_t>(std::filesystem::file_size(input)));
}

TEST_F(AddConversionJobTest, AnInputThatCannotBeOpenedGetsNoJob)
{
    std::string folder = dir_.Path();
    const TConversionJob job =
        AddConversionJob(converter_, dir_.File("missing.mp3"), TTargetFormat::Wav, folder);
    EXPECT_EQ(job.Index, -1);
    EXPECT_FALSE(job.OutputSet);
    EXPECT_EQ(converter_.JobCount(), 0);
    EXPECT_EQ(converter_.LastError(), dir_.File("missing.mp3") + ": no such file or directory");
}

TEST_F(AddConversionJobTest, SurroundInputBecomesAStereo48kWmaStreamButStaysSoInWav)
{
    std::vector<TFFmpegHlpr*> jobs;
    converter_.SetJobFactory([&](std::mutex& codecLock) {
        auto job = std::make_unique<TFFmpegHlpr>(codecLock);
        jobs.push_back(job.get());
        return job;
    });
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 0.2;
    audioSpec.channels = 6;
    audioSpec.sampleRate = 96000;
    const std::string input = fixtures::MakeWav(dir_.File("surround.wav"), audioSpec);
    std::string folder = dir_.Path();
    std::string wavFolder = dir_.File("wav");
    std::filesystem::create_directory(wavFolder);

    const TConversionJob wma = AddConversionJob(converter_, input, TTargetFormat::Wma, folder);
    const TConversionJob wav = AddConversionJob(converter_, input, TTargetFormat::Wav, wavFolder);
    ASSERT_TRUE(wma.OutputSet && wav.OutputSet) << converter_.LastError();
    EXPECT_EQ(wav.OutputFileName, dir_.File("wav/surround.wav"));
    EXPECT_EQ(converter_.InputContext(wma.Index).AudioChannels, 6);
    EXPECT_EQ(converter_.InputContext(wma.Index).AudioSampleRate, 96000);

    // The audio encoders as the output streams were created.
    ASSERT_EQ(jobs.size(), 2u);
    const auto encoder = [](TFFmpegHlpr* job) {
        return job->OutputFiles[0].Streams.at(0).Encoder.get();
    };
    EXPECT_EQ(encoder(jobs[0])->ch_layout.nb_channels, 2);
    EXPECT_EQ(encoder(jobs[0])->sample_rate, 48000);
    EXPECT_EQ(encoder(jobs[1])->ch_layout.nb_channels, 6);
    EXPECT_EQ(encoder(jobs[1])->sample_rate, 96000);
}

}  // namespace
}  // namespace kelvaro
