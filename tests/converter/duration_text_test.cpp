#include "converter/duration_text.h"

#include <gtest/gtest.h>

namespace kelvaro {
namespace {

using namespace std::chrono_literals;

TEST(MinutesAndSeconds, WholeSecondsWithTwoDigitsAndMinutesWithoutALimit)
{
    EXPECT_EQ(MinutesAndSeconds(0ms), "0:00");
    EXPECT_EQ(MinutesAndSeconds(59999ms), "0:59") << "a part of a second is not rounded up";
    EXPECT_EQ(MinutesAndSeconds(75000ms), "1:15");
    EXPECT_EQ(MinutesAndSeconds(100min + 3s), "100:03");
    EXPECT_EQ(MinutesAndSeconds(-1500ms), "0:00");
}

}  // namespace
}  // namespace kelvaro
