#include <gtest/gtest.h>

#include "converter/av_converter.h"

namespace kelvaro {
namespace {

// Every engine call would go through an unbound slot: the component refuses instead.
TEST(ConverterWithoutLibraries, AddInputFileFailsWithAReason)
{
    TLumoAVConverter converter;
    EXPECT_EQ(converter.AddInputFile("/nonexistent/song.mp3"), -1);
    EXPECT_EQ(converter.LastError(), "The media libraries are not loaded");
    EXPECT_EQ(converter.JobCount(), 0);
    converter.Start(1);
    converter.Stop();
    converter.Clear();
}

}  // namespace
}  // namespace kelvaro
