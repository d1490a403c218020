#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <thread>

#include "cli/batch_inputs.h"

namespace kelvaro::cli {
namespace {

std::string UsageErrorOf(const std::vector<std::string>& arguments)
{
    try {
        ParseCommandLine(arguments);
    } catch (const TUsageError& error) {
        return error.what();
    }
    return {};
}

TEST(CommandLine, DefaultsAreWmaBesideTheInputsOneJobPerCoreAndErrorMessages)
{
    const TCommandLine command = ParseCommandLine({"a.mp3", "b.flac"});
    EXPECT_EQ(command.Format, TTargetFormat::Wma);
    EXPECT_EQ(command.OutputFolder, "");
    EXPECT_EQ(command.Jobs, 0);
    EXPECT_EQ(ParallelJobs(command.Jobs),
              static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    EXPECT_EQ(ParallelJobs(3), 3);
    EXPECT_EQ(command.LogLevel, TMessageLevel::Error);
    EXPECT_EQ(command.OptionText, "");
    EXPECT_EQ(command.Settings.BitRate, -1);
    EXPECT_EQ(command.Settings.Bits, -1);
    EXPECT_EQ(command.Summary, TSummaryScope::Problems);
    EXPECT_EQ(command.Files, (std::vector<std::string>{"a.mp3", "b.flac"}));
    EXPECT_FALSE(command.Recursive || command.KeepStructure || command.SkipExisting ||
                 command.Quiet || command.NulSeparated || command.Help || command.Version);
}

TEST(CommandLine, LongAndShortFormsTakeTheirValuesWhereverTheyStand)
{
    const TCommandLine command = ParseCommandLine({"-f",
                                                   "wav",
                                                   "--output=/tmp/out",
                                                   "a.mp3",
                                                   "-j3",
                                                   "--log-level=warning",
                                                   "--option",
                                                   "packetsize=2048",
                                                   "--option=title=a=b",
                                                   "-qr0",
                                                   "--files-from",
                                                   "-",
                                                   "--rate",
                                                   "22050",
                                                   "--channels=1",
                                                   "--bits",
                                                   "24",
                                                   "--keep-structure",
                                                   "--skip-existing",
                                                   "--summary",
                                                   "full",
                                                   "--report=r.tsv",
                                                   "--keep-partial",
                                                   "--",
                                                   "--odd-name.mp3",
                                                   "-"});
    EXPECT_EQ(command.Format, TTargetFormat::Wav);
    EXPECT_EQ(command.OutputFolder, "/tmp/out");
    EXPECT_EQ(command.Jobs, 3);
    EXPECT_EQ(command.LogLevel, TMessageLevel::Warning);
    EXPECT_EQ(command.OptionText, "packetsize=2048\ntitle=a=b\n");
    EXPECT_TRUE(command.Quiet && command.Recursive && command.NulSeparated &&
                command.KeepStructure && command.SkipExisting && command.KeepPartial);
    EXPECT_EQ(command.FilesFrom, "-");
    EXPECT_EQ(command.Settings.SampleRate, 22050);
    EXPECT_EQ(command.Settings.Channels, 1);
    EXPECT_EQ(command.Settings.Bits, 24);
    EXPECT_EQ(command.Summary, TSummaryScope::Full);
    EXPECT_EQ(command.ReportFile, "r.tsv");
    EXPECT_EQ(command.Files, (std::vector<std::string>{"a.mp3", "--odd-name.mp3", "-"}));

    EXPECT_EQ(ParseCommandLine({"--bitrate", "192k", "a"}).Settings.BitRate, 192000);
    EXPECT_EQ(ParseCommandLine({"--bitrate=64000", "a"}).Settings.BitRate, 64000);
    EXPECT_EQ(ParseCommandLine({"--files-from", "list"}).FilesFrom, "list") << "no FILE needed";
    EXPECT_TRUE(ParseCommandLine({"-h"}).Help);
    EXPECT_TRUE(ParseCommandLine({"-V"}).Version);
    EXPECT_TRUE(ParseCommandLine({"--vers"}).Version) << "a unique abbreviation";
    EXPECT_TRUE(ParseCommandLine({"--help", "--bits", "24"}).Help) << "help is never refused";
}

TEST(CommandLine, MistakesAreUsageErrorsThatSayWhat)
{
    EXPECT_EQ(UsageErrorOf({}), "no files to convert");
    EXPECT_EQ(UsageErrorOf({"-f", "mp4", "a.wav"}),
              "unknown format 'mp4' (wma, wav, mp3, aac, opus, vorbis, flac or alac)");
    EXPECT_EQ(UsageErrorOf({"a.wav", "--format"}), "--format needs a value");
    EXPECT_EQ(UsageErrorOf({"a.wav", "-j"}), "--jobs needs a value");
    EXPECT_EQ(UsageErrorOf({"--jobs", "-1", "a.wav"}),
              "--jobs takes a number from 0 to 256, not '-1'");
    EXPECT_EQ(UsageErrorOf({"--jobs", "2x", "a.wav"}),
              "--jobs takes a number from 0 to 256, not '2x'");
    EXPECT_EQ(UsageErrorOf({"--log-level", "loud", "a.wav"}),
              "unknown log level 'loud' (quiet, error, warning, info, debug or all)");
    EXPECT_EQ(UsageErrorOf({"--option", "ab", "a.wav"}), "--option takes NAME=VALUE, not 'ab'");
    EXPECT_EQ(UsageErrorOf({"--option", "=5", "a.wav"}), "--option takes NAME=VALUE, not '=5'");
    EXPECT_EQ(UsageErrorOf({"--option", "title=a\nab=1", "a.wav"}),
              "--option values cannot hold line breaks");
    EXPECT_EQ(UsageErrorOf({"--output=", "a.wav"}), "--output needs a folder");
    EXPECT_EQ(UsageErrorOf({"--fast", "a.wav"}), "unknown option '--fast'");
    EXPECT_EQ(UsageErrorOf({"--fast=1", "a.wav"}), "unknown option '--fast'");
    EXPECT_EQ(UsageErrorOf({"-x", "a.wav"}), "unknown option '-x'");
    EXPECT_EQ(UsageErrorOf({"--quiet=yes", "a.wav"}), "--quiet takes no value");
    EXPECT_EQ(UsageErrorOf({"--keep", "a.wav"}),
              "ambiguous option '--keep' (--keep-partial, --keep-structure)");
    EXPECT_EQ(UsageErrorOf({"--summary", "long", "a.wav"}),
              "--summary takes short or full, not 'long'");
    EXPECT_EQ(UsageErrorOf({"-0", "a.wav"}), "--null applies to the list of --files-from");
    EXPECT_EQ(UsageErrorOf({"--target", "bluray", "a.avi"}),
              "unknown target 'bluray' (vcd, svcd, dvd, dv or dv50)");
    EXPECT_EQ(UsageErrorOf({"--norm", "secam", "a.avi"}), "unknown norm 'secam' (pal, ntsc or film)");
    EXPECT_EQ(UsageErrorOf({"--norm", "ntsc", "a.avi"}), "--norm applies to a --target");
    EXPECT_EQ(UsageErrorOf({"--target", "dvd", "-f", "wav", "a.avi"}),
              "--format names an audio format; --target replaces it");
    EXPECT_EQ(UsageErrorOf({"--target", "dv", "--rate", "48000", "a.avi"}),
              "a --target sets its own bit rates, rate, channels and sample size");
}

TEST(CommandLine, EncodingSettingsAreCheckedAgainstTheFormat)
{
    EXPECT_EQ(UsageErrorOf({"--bitrate", "23999", "a"}),
              "--bitrate takes bits per second from 24000 (or 24k, the WMA encoder's least), "
              "not '23999'");
    EXPECT_EQ(UsageErrorOf({"--bitrate", "9999999999", "a"}).substr(0, 27),
              "--bitrate takes bits per se");
    EXPECT_EQ(UsageErrorOf({"--bitrate", "192k", "-f", "wav", "a"}),
              "--bitrate applies to WMA, MP3, AAC and Opus; a WAV file's bit rate follows its "
              "rate, channels and bits");
    EXPECT_EQ(UsageErrorOf({"--bits", "24", "a"}),
              "--bits applies to WAV, FLAC and ALAC; WMA has no fixed sample size");
    EXPECT_EQ(UsageErrorOf({"-f", "wav", "--bits", "32", "a"}), "--bits takes 16 or 24, not '32'");
    EXPECT_EQ(UsageErrorOf({"--rate", "96000", "a"}),
              "WMA takes a --rate from 8000 to 48000 Hz, not 96000");
    EXPECT_EQ(UsageErrorOf({"-f", "wav", "--rate", "0", "a"}),
              "--rate takes a sample rate in Hz from 1 to 768000, not '0'");
    EXPECT_EQ(UsageErrorOf({"--channels", "6", "a"}), "WMA takes at most 2 --channels, not 6");
    EXPECT_EQ(UsageErrorOf({"-f", "wav", "--channels", "65", "a"}),
              "--channels takes a channel count from 1 to 64, not '65'");
    EXPECT_EQ(UsageErrorOf({"-f", "wav", "--rate", "96000", "--channels", "6", "a"}), "");

    const std::pair<std::vector<std::string>, std::string> kFormatCases[] = {
        {{"-f", "mp3", "--quality", "9.5"}, "MP3 takes a --quality from 0 to 9 (0 best), not 9.5"},
        {{"-f", "ogg", "--quality", "-2"},
         "Ogg Vorbis takes a --quality from -1 to 10 (10 best), not -2"},
        {{"-f", "mp3", "--quality", "2", "--bitrate", "192k"},
         "--quality and --bitrate exclude each other: MP3 is either of variable (--quality) or "
         "of constant (--bitrate) bit rate"},
        {{"-f", "mp3", "--bitrate", "400k"},
         "MP3 takes a --bitrate from 8000 to 320000 bit/s, not 400000"},
        {{"-f", "opus", "--bitrate", "5k"},
         "Opus takes a --bitrate from 6000 to 510000 bit/s, not 5000"},
        {{"-f", "aac", "--quality", "2"},
         "--quality applies to MP3 and Ogg Vorbis; AAC takes a --bitrate"},
        {{"-f", "flac", "--quality", "2"},
         "--quality applies to MP3 and Ogg Vorbis; FLAC takes a --compression"},
        {{"-f", "vorbis", "--bitrate", "128k"},
         "--bitrate applies to WMA, MP3, AAC and Opus; Ogg Vorbis takes a --quality"},
        {{"-f", "alac", "--compression", "5"}, "--compression applies to FLAC"},
        {{"-f", "flac", "--compression", "9"}, "--compression takes a level from 0 to 8, not '9'"},
        {{"-f", "mp3", "--bits", "24"},
         "--bits applies to WAV, FLAC and ALAC; MP3 has no fixed sample size"},
        {{"-f", "mp3", "--channels", "6"}, "MP3 takes at most 2 --channels, not 6"},
        {{"-f", "opus", "--rate", "44100"}, "Opus takes a --rate of 48000 Hz, not 44100"},
        {{"-f", "mp3", "--rate", "96000"},
         "MP3 takes a --rate of 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000 "
         "Hz, not 96000"},
        {{"-f", "m4a", "--quality", "x"}, "--quality takes a number, such as 2 or 4.5, not 'x'"},
        {{"-f", "mp3", "--quality", "0"}, ""},
        {{"-f", "ogg", "--quality", "4.5"}, ""},
        {{"-f", "flac", "--compression", "8", "--bits", "24"}, ""},
        {{"-f", "aac", "--bitrate", "256k", "--channels", "8"}, ""},
    };
    for (auto [arguments, error] : kFormatCases) {
        arguments.push_back("a");
        EXPECT_EQ(UsageErrorOf(arguments), error);
    }
}

TEST(FileList, ANamedFileKeepsItsPathBelowTheOutputFolderNeverAboveIt)
{
    EXPECT_EQ(KeptPath("music/a b/song.mp3"), "music/a b/song.mp3");
    EXPECT_EQ(KeptPath("./music//song.mp3"), "music/song.mp3");
    EXPECT_EQ(KeptPath("/data/music/song.mp3"), "data/music/song.mp3");
    EXPECT_EQ(KeptPath("../../music/song.mp3"), "music/song.mp3");
    EXPECT_EQ(KeptPath("music/../../song.mp3"), "song.mp3");
    EXPECT_EQ(KeptPath("-song.mp3"), "-song.mp3");
}

}  // namespace
}  // namespace kelvaro::cli
