#include <gtest/gtest.h>

#include <climits>

#include "medialib/media_helpers.h"
#include "support/test_support.h"

namespace kelvaro {
namespace {

class MediaHelpers : public ::testing::Test {
protected:
    void SetUp() override { test::LoadMediaLibrariesForTest(); }
};

TEST_F(MediaHelpers, DoubleToRationalFindsTheNearestSmallFraction)
{
    const AVRational half = DoubleToRational(1.5, 255);
    EXPECT_EQ(half.num, 3);
    EXPECT_EQ(half.den, 2);
    const AVRational ntsc = DoubleToRational(30000.0 / 1001.0, 1 << 30);
    EXPECT_EQ(ntsc.num, 30000);
    EXPECT_EQ(ntsc.den, 1001);
    const AVRational wide = DoubleToRational(16.0 / 9.0 * 480 / 720, 255);  // a pixel aspect
    EXPECT_EQ(wide.num, 32);
    EXPECT_EQ(wide.den, 27);
    const AVRational negative = DoubleToRational(-0.25, 255);
    EXPECT_EQ(negative.num, -1);
    EXPECT_EQ(negative.den, 4);
    EXPECT_EQ(DoubleToRational(0.0, 255).num, 0);
    EXPECT_EQ(DoubleToRational(1e30, 255).num, 255) << "huge values saturate, never overflow";
}

TEST_F(MediaHelpers, RationalComparisonAndDifference)
{
    EXPECT_EQ(CompareRational({1, 25}, {1, 30}), 1);
    EXPECT_EQ(CompareRational({2, 50}, {1, 25}), 0);
    EXPECT_EQ(CompareRational({1, 1000}, {1, 90000}), 1);
    EXPECT_EQ(CompareRational({24000, 1001}, {25, 1}), -1);
    // The cross products wrap in 32 bits, as they always did.
    EXPECT_EQ(CompareRational({INT_MAX, 1}, {1, 2}), -1);

    const AVRational difference = SubtractRational({25, 1}, {24000, 1001});
    EXPECT_EQ(difference.num, 1025);
    EXPECT_EQ(difference.den, 1001);
    EXPECT_DOUBLE_EQ(RationalToDouble({30000, 1001}), 30000.0 / 1001.0);
}

TEST(MediaHelpersClamp, KeepsValuesInsideTheRange)
{
    EXPECT_EQ(Clamp(40000, -32768, 32767), 32767);
    EXPECT_EQ(Clamp(-40000, -32768, 32767), -32768);
    EXPECT_EQ(Clamp(5, -32768, 32767), 5);
}

}  // namespace
}  // namespace kelvaro
