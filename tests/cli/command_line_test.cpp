#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <thread>

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

TEST(CommandLine, DefaultsAreWmaOneJobAndErrorMessages)
{
    const TCommandLine command = ParseCommandLine({"a.mp3", "b.flac"});
    EXPECT_EQ(command.Format, TTargetFormat::Wma);
    EXPECT_EQ(command.OutputFolder, "");
    EXPECT_EQ(command.Jobs, 1);
    EXPECT_EQ(command.LogLevel, llError);
    EXPECT_EQ(command.OptionText, "");
    EXPECT_EQ(command.Files, (std::vector<std::string>{"a.mp3", "b.flac"}));
    EXPECT_FALSE(command.Help);
}

TEST(CommandLine, EveryOptionTakesItsValueSeparateOrAfterAnEqualsSign)
{
    const TCommandLine command = ParseCommandLine(
        {"--format", "wav", "--output=/tmp/out", "a.mp3", "--jobs", "0", "--log-level=debug",
         "--option", "packetsize=2048", "--option=title=a=b", "--", "--odd-name.mp3"});
    EXPECT_EQ(command.Format, TTargetFormat::Wav);
    EXPECT_EQ(command.OutputFolder, "/tmp/out");
    EXPECT_EQ(command.Jobs, 0);
    EXPECT_EQ(command.LogLevel, llDebug);
    EXPECT_EQ(command.OptionText, "packetsize=2048\ntitle=a=b\n");
    EXPECT_EQ(command.Files, (std::vector<std::string>{"a.mp3", "--odd-name.mp3"}));
    EXPECT_EQ(ParseCommandLine({"-"}).Files, (std::vector<std::string>{"-"}));
    EXPECT_TRUE(ParseCommandLine({"--help"}).Help);
}

TEST(CommandLine, MistakesAreUsageErrorsThatSayWhat)
{
    EXPECT_EQ(UsageErrorOf({}), "no files to convert");
    EXPECT_EQ(UsageErrorOf({"--format", "mp3", "a.wav"}), "unknown format 'mp3' (wma or wav)");
    EXPECT_EQ(UsageErrorOf({"a.wav", "--format"}), "--format needs a value");
    EXPECT_EQ(UsageErrorOf({"--jobs", "-1", "a.wav"}),
              "--jobs takes a number from 0 to 256, not '-1'");
    EXPECT_EQ(UsageErrorOf({"--jobs", "2x", "a.wav"}),
              "--jobs takes a number from 0 to 256, not '2x'");
    EXPECT_EQ(UsageErrorOf({"--log-level", "loud", "a.wav"}),
              "unknown log level 'loud' (quiet, error, info, debug or all)");
    EXPECT_EQ(UsageErrorOf({"--option", "ab", "a.wav"}), "--option takes NAME=VALUE, not 'ab'");
    EXPECT_EQ(UsageErrorOf({"--option", "=5", "a.wav"}), "--option takes NAME=VALUE, not '=5'");
    EXPECT_EQ(UsageErrorOf({"--option", "title=a\nab=1", "a.wav"}),
              "--option values cannot hold line breaks");
    EXPECT_EQ(UsageErrorOf({"--output=", "a.wav"}), "--output needs a folder");
    EXPECT_EQ(UsageErrorOf({"--fast", "a.wav"}), "unknown option '--fast'");
}

TEST(CommandLine, ZeroJobsMeansOnePerCore)
{
    EXPECT_EQ(ParallelJobs(3), 3);
    EXPECT_EQ(ParallelJobs(0), static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
}

}  // namespace
}  // namespace kelvaro::cli
