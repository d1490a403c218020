#include "converter/conversion_rule.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "converter/audio_extensions.h"
#include "converter/av_converter.h"
#include "converter/failure_reason.h"
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
    EXPECT_EQ(OutputFileName("/out/", "/music/.wav", ".wma"), "/out/_.wma") << "not hidden";
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

TEST(AudioExtensions, FolderFilesAreTakenByTheirExtensionInAnyCase)
{
    EXPECT_TRUE(HasAudioExtension("/music/a.mp3"));
    EXPECT_TRUE(HasAudioExtension("/music/A.OPUS"));
    EXPECT_TRUE(HasAudioExtension("/music/take.two.Aif"));
    for (const char* added :
         {"oga", "opus", "aif", "aiff", "wv", "ac3", "dts", "mpc", "au", "mka", "webm"})
        EXPECT_TRUE(HasAudioExtension(std::string("x.") + added)) << added;
    EXPECT_FALSE(HasAudioExtension("/music/song.mid")) << "no MIDI decoder";
    EXPECT_FALSE(HasAudioExtension("/music/song.ofr")) << "no OptimFROG reader";
    EXPECT_FALSE(HasAudioExtension("/music/notes.txt"));
    EXPECT_FALSE(HasAudioExtension("/music/mp3"));
    EXPECT_FALSE(HasAudioExtension("/music/.wav")) << "a hidden file's name, no extension";
    EXPECT_FALSE(HasAudioExtension("/music.wav/readme"));
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

TEST(ConversionRuleOutput, ChosenSettingsReplaceTheRulesOwn)
{
    TConversionSettings settings;
    settings.BitRate = 192000;
    settings.SampleRate = 22050;
    settings.Channels = 1;
    const TOutputOptions wma =
        ConversionOutputOptions(TTargetFormat::Wma, "/out/a.wma", Audio(6, 96000), settings);
    EXPECT_EQ(wma.AudioBitrate, 192000);
    EXPECT_EQ(wma.SampleRate, 22050);
    EXPECT_EQ(wma.AudioChannels, 1);

    settings = {};
    settings.Bits = 24;
    const TOutputOptions wav =
        ConversionOutputOptions(TTargetFormat::Wav, "/out/a.wav", Audio(2, 44100), settings);
    EXPECT_EQ(wav.AudioCodec, "pcm_s24le");
    EXPECT_EQ(wav.SampleRate, -1);
    settings.Bits = 16;
    EXPECT_EQ(
        ConversionOutputOptions(TTargetFormat::Wav, "/a.wav", Audio(2, 44100), settings).AudioCodec,
        "");
}

TEST(OutputClaims, ALaterInputThatIsAnEarlierEntrysOutputIsRefused)
{
    TOutputClaims claims({"/a/song.flac"});
    EXPECT_EQ(claims.Claim("/a/song.flac", "/a/song.wav"), "");
    EXPECT_TRUE(claims.IsClaimedOutput("/a/../a/song.wav"));
    EXPECT_FALSE(claims.IsClaimedOutput("/a/song.flac"));
    EXPECT_EQ(claims.AddInput("/a/song.wav"),
              "/a/song.wav is the output of /a/song.flac in this batch");
    EXPECT_EQ(claims.AddInput("/a/other.wav"), "");
    EXPECT_EQ(claims.Claim("/b/x.mp3", "/a/other.wav"),
              "/a/other.wav would overwrite the input /a/other.wav");
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

TEST(OutputClaims, NamesAreOneWhereTheFolderIgnoresCase)
{
    TOutputClaims claims([](const std::string&) { return true; });
    claims.AddInput("/stick/Song.ogg");
    EXPECT_EQ(claims.Claim("/stick/Song.ogg", "/stick/Song.wma"), "");
    EXPECT_EQ(claims.Claim("/stick/song.wv", "/stick/song.wma"),
              "/stick/song.wma is already the output of /stick/Song.ogg");
    EXPECT_EQ(claims.Claim("/stick/x.mp3", "/stick/SONG.OGG"),
              "/stick/SONG.OGG would overwrite the input /stick/Song.ogg");
    EXPECT_FALSE(FolderIgnoresCase(fixtures::TempDir().File(""))) << "this disk tells case apart";
}

TEST(FailureReasons, SayWhatHappenedToTheFiles)
{
    fixtures::TempDir dir;
    const std::string junk = fixtures::MakeRawFile(dir.File("junk.wav"), "junk");
    const std::string empty = fixtures::MakeRawFile(dir.File("empty.wav"), "");
    const std::string gone = dir.File("gone/x.wma"), out = dir.File("x.wma");
    const std::pair<TJobFailure, std::string> cases[] = {
        {{"Could not save '" + gone + "': No such file", "", false, junk, gone},
         "the output folder " + dir.File("gone") + " was removed during the run"},
        {{"No space left on device", "", false, junk, out}, "no space left on the output's disk"},
        {{empty + ": Unknown format", "", true, empty, out}, "the file is empty"},
        {{"Unknown format", "Invalid sample rate: 0", true, junk, out},
         "the file's header is damaged (sample rate 0)"},
        {{"decoding: Unknown format", "", false, junk, out}, "decoding: Unknown format"},
    };
    for (const auto& [failure, reason] : cases)
        EXPECT_EQ(FailureReason(failure), reason);
}

class ConversionSetUpTest : public ::testing::Test {
protected:
    void SetUp() override { test::LoadMediaLibrariesForTest(); }
    // A job as the component makes it at its start, with the rule's set-up run on it.
    bool RunSetUp(TFFmpegHlpr& job, const std::string& input, TTargetFormat format,
                  const std::string& output)
    {
        job.Reset();
        return ConversionSetUp(input, format, output)(job);
    }
    fixtures::TempDir dir_;
    std::mutex codecLock_;
};

TEST_F(ConversionSetUpTest, OpensTheInputThenItsOutputWithoutWritingTheOutputsName)
{
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 0.2;
    const std::string input = fixtures::MakeWav(dir_.File("take.one.wav"), audioSpec);
    const std::string output = OutputFileName(dir_.Path() + "/", input, ".wma");
    EXPECT_EQ(output, dir_.Path() + "/take.one.wma");

    TFFmpegHlpr job(codecLock_);
    ASSERT_TRUE(RunSetUp(job, input, TTargetFormat::Wma, output)) << job.LastError;
    EXPECT_EQ(job.Input.FileName, input);
    EXPECT_EQ(job.Input.Size, static_cast<int64_t>(std::filesystem::file_size(input)));
    EXPECT_EQ(job.OutputFiles[0].Streams.at(0).Encoder->bit_rate, 128000);
    // Until the job ends with a valid file, its bytes go to a temporary file beside it.
    EXPECT_FALSE(std::filesystem::exists(output));
    job.ReleaseFiles();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                            std::filesystem::directory_iterator()),
              1)
        << "only the input: the unwritten temporary file went with the job's files";
}

TEST_F(ConversionSetUpTest, AnInputThatCannotBeOpenedFailsWithItsReason)
{
    TFFmpegHlpr job(codecLock_);
    EXPECT_FALSE(
        RunSetUp(job, dir_.File("missing.mp3"), TTargetFormat::Wav, dir_.File("missing.wav")));
    EXPECT_EQ(job.LastError, dir_.File("missing.mp3") + ": no such file or directory");
    EXPECT_EQ(job.OutputFileCount, 0);
}

TEST_F(ConversionSetUpTest, SurroundInputBecomesAStereo48kWmaStreamButStaysSoInWav)
{
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 0.2;
    audioSpec.channels = 6;
    audioSpec.sampleRate = 96000;
    const std::string input = fixtures::MakeWav(dir_.File("surround.wav"), audioSpec);

    TFFmpegHlpr wma(codecLock_);
    TFFmpegHlpr wav(codecLock_);
    ASSERT_TRUE(RunSetUp(wma, input, TTargetFormat::Wma, dir_.File("surround.wma")))
        << wma.LastError;
    ASSERT_TRUE(RunSetUp(wav, input, TTargetFormat::Wav, dir_.File("wav.wav"))) << wav.LastError;
    EXPECT_EQ(wma.Input.AudioChannels, 6);
    EXPECT_EQ(wma.Input.AudioSampleRate, 96000);
    const auto encoder = [](TFFmpegHlpr& job) {
        return job.OutputFiles[0].Streams.at(0).Encoder.get();
    };
    EXPECT_EQ(encoder(wma)->ch_layout.nb_channels, 2);
    EXPECT_EQ(encoder(wma)->sample_rate, 48000);
    EXPECT_EQ(encoder(wav)->ch_layout.nb_channels, 6);
    EXPECT_EQ(encoder(wav)->sample_rate, 96000);
}

TEST_F(ConversionSetUpTest, ABitRateTheWmaEncoderWouldNotWriteFailsTheJobWithTheReason)
{
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = 0.2;
    audioSpec.channels = 1;
    audioSpec.sampleRate = 8000;
    const std::string input = fixtures::MakeWav(dir_.File("low.wav"), audioSpec);
    TConversionSettings settings;
    settings.BitRate = 8000000;
    TFFmpegHlpr job(codecLock_);
    job.Reset();
    EXPECT_FALSE(
        ConversionSetUp(input, TTargetFormat::Wma, dir_.File("low.wma"), {}, settings)(job));
    EXPECT_EQ(
        job.LastError,
        "the WMA encoder writes at most 4096000 bit/s at 8000 Hz with 1 channel, not 8000000");
    EXPECT_EQ(job.OutputFileCount, 0);

    settings.BitRate = 320000;
    settings.SampleRate = 22050;
    TFFmpegHlpr fits(codecLock_);
    fits.Reset();
    ASSERT_TRUE(ConversionSetUp(input, TTargetFormat::Wma, dir_.File("deep/er/low.wma"), {},
                                settings, dir_.File(""))(fits))
        << fits.LastError;
    EXPECT_EQ(fits.OutputFiles[0].Streams.at(0).Encoder->bit_rate, 320000);
    EXPECT_EQ(fits.OutputFiles[0].Streams.at(0).Encoder->sample_rate, 22050);
    EXPECT_TRUE(std::filesystem::is_directory(dir_.File("deep/er"))) << "its folder is made";
    fits.ReleaseFiles();
}

TEST_F(ConversionSetUpTest, ExtraOptionsAreTakenOnlyWhereTheOutputHasThem)
{
    const TConversionSettings none;
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "packet_size", "3200"),
              TOptionUse::Taken);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, " packetsize ", "2048"),
              TOptionUse::Taken);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "cutoff", "15000"), TOptionUse::Taken);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wav, none, "rf64", "auto"), TOptionUse::Taken);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "rf64", "auto"), TOptionUse::NotTaken);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "title", "X"), TOptionUse::NotTaken);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "bogus", "1"), TOptionUse::NotTaken);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "g", "12"), TOptionUse::NotTaken)
        << "a video option, and the output has no video";
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "packet_size", "abc"),
              TOptionUse::BadValue);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "b", "192000"),
              TOptionUse::BitRateFixed);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wma, none, "ar", "22050"),
              TOptionUse::SampleRateFixed);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wav, none, "ac", "1"), TOptionUse::ChannelsFixed);
    EXPECT_EQ(ConversionOptionUse(TTargetFormat::Wav, none, "sample_fmt", "s32"),
              TOptionUse::SampleFormatFixed);
}

}  // namespace
}  // namespace kelvaro
