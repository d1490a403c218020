#include <gtest/gtest.h>

#include "engine/job.h"
#include "medialib/media_loader.h"

namespace kelvaro {
namespace {

TEST(JobWithoutLibraries, ResetChangesNothing)
{
    ASSERT_FALSE(MediaLibrariesLoaded());
    std::mutex lock;
    TCustomFFmpegHlpr job(lock);
    job.AudioSampleRate = 8000;
    job.VideoCodecName = "mpeg4";
    job.StopRequested = true;
    job.Reset();
    EXPECT_EQ(job.AudioSampleRate, 8000) << "no defaults are reloaded";
    EXPECT_EQ(job.VideoCodecName, "mpeg4");
    EXPECT_TRUE(job.StopRequested);
    EXPECT_EQ(job.DefaultCodecContexts[0], nullptr);
}

}  // namespace
}  // namespace kelvaro
