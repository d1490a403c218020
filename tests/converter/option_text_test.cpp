#include <gtest/gtest.h>

#include "converter/ffmpeg_hlpr.h"
#include "medialib/media_functions.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(OptionTextLines, EveryKindOfLineBreakSeparatesTheSamePairs)
{
    const Pairs expected = {{"packetsize", "2324"}, {"muxrate", "1411200"}};
    EXPECT_EQ(SplitOptionText("packetsize=2324\r\nmuxrate=1411200"), expected);
    EXPECT_EQ(SplitOptionText("packetsize=2324\nmuxrate=1411200"), expected);
    EXPECT_EQ(SplitOptionText("packetsize=2324\rmuxrate=1411200"), expected);
    // Surrounding blanks and control characters go with the trim of the whole text.
    EXPECT_EQ(SplitOptionText(" \t\r\npacketsize=2324\r\n\r\nmuxrate=1411200\r\n\t "),
              (Pairs{{"packetsize", "2324"}, {"", ""}, {"muxrate", "1411200"}}));
}

TEST(OptionTextLines, OnlyTheFirstEqualsSignSplitsAndBlanksAreLeftToTheEngine)
{
    EXPECT_EQ(SplitOptionText("title=a=b"), (Pairs{{"title", "a=b"}}));
    EXPECT_EQ(SplitOptionText("ab = 96000"), (Pairs{{"ab ", " 96000"}}));
    EXPECT_EQ(SplitOptionText("ab"), (Pairs{{"ab", ""}}));
    EXPECT_EQ(SplitOptionText("=5"), (Pairs{{"", "5"}}));
    EXPECT_TRUE(SplitOptionText("").empty());
    EXPECT_TRUE(SplitOptionText(" \r\n ").empty());
}

class ApplyOptionText : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::LoadMediaLibrariesForTest();
        job_.Reset();
    }
    std::mutex lock_;
    TFFmpegHlpr job_{lock_};
};

TEST_F(ApplyOptionText, AppliesEachAcceptedLineInOrderAndIgnoresTheRest)
{
    job_.ApplyOptionText("ab = 96000\r\nab\n\nnosuchoption=1\rpacketsize=2324\nab=112000");
    EXPECT_EQ(job_.DefaultCodecContexts[mkAudio]->bit_rate, 112000) << "later lines win";
    EXPECT_EQ(job_.DefaultFormatContext->packet_size, 2324u);
    EXPECT_EQ(job_.OptionNames.size(), 3u) << "three lines were taken";
}

TEST_F(ApplyOptionText, MuxerPrivateOptionsAreKeptForTheMuxer)
{
    job_.ApplyOptionText("packetsize=2324\r\nmuxrate=1411200");
    EXPECT_EQ(job_.DefaultFormatContext->packet_size, 2324u);
    ASSERT_EQ(job_.PrivateOptions.size(), 1u);
    EXPECT_EQ(job_.PrivateOptions[0].Name, "muxrate");
    EXPECT_EQ(job_.PrivateOptions[0].Value, "1411200");
}

}  // namespace
}  // namespace kelvaro
