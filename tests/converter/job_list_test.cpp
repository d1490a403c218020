#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "converter/ffmpeg_list.h"

namespace kelvaro {
namespace {

std::unique_ptr<TFFmpegHlpr> JobOnThread(std::mutex& lock, uint32_t threadId)
{
    auto job = std::make_unique<TFFmpegHlpr>(lock);
    job->ThreadID = threadId;
    return job;
}

TEST(JobList, AddNumbersJobsInOrderAndLooksThemUpByThread)
{
    std::mutex lock;
    TFFmpegList list;
    auto first = JobOnThread(lock, 7);
    EXPECT_EQ(first->Index, -1);
    TFFmpegHlpr* firstJob = first.get();
    EXPECT_EQ(list.Add(std::move(first)), 0);
    EXPECT_EQ(firstJob->Index, 0);
    EXPECT_EQ(list.Add(JobOnThread(lock, 9)), 1);
    EXPECT_EQ(list.Add(JobOnThread(lock, 7)), 2);
    EXPECT_EQ(list.Count(), 3);

    EXPECT_EQ(list.FindByThreadID(7), firstJob) << "the first match wins";
    EXPECT_EQ(list.IndexOfThreadID(9), 1);
    EXPECT_EQ(list.FindByThreadID(8), nullptr);
    EXPECT_EQ(list.IndexOfThreadID(8), -1);
}

TEST(JobList, ItemsOutOfRangeIsAListIndexError)
{
    std::mutex lock;
    TFFmpegList list;
    list.Add(JobOnThread(lock, 1));
    try {
        list.Items(3);
        FAIL() << "no error";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (3)");
    }
    EXPECT_THROW(list.Items(-1), std::out_of_range);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(list.Items(0), std::out_of_range);
}

TEST(JobList, LookUpsFromOtherThreadsNeverMeetAJobBeingDestroyed)
{
    std::mutex lock;
    for (int round = 0; round < 20; ++round) {
        TFFmpegList list;
        for (uint32_t id = 1; id <= 50; ++id)
            list.Add(JobOnThread(lock, id));
        std::atomic<bool> done{false};
        std::thread lookUps([&] {
            while (!done) {
                const int32_t index = list.IndexOfThreadID(50);
                EXPECT_TRUE(index == 49 || index == -1);
                list.Count();
            }
        });
        list.Clear();
        done = true;
        lookUps.join();
        EXPECT_EQ(list.IndexOfThreadID(50), -1);
    }
}

}  // namespace
}  // namespace kelvaro
