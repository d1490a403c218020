#include <gtest/gtest.h>

#include <string>

#include "converter/main_thread_scheduler.h"

namespace kelvaro {
namespace {

using namespace std::chrono_literals;

class DelayedTaskQueueTest : public ::testing::Test {
protected:
    TDelayedTaskQueue::Clock::time_point now_{};
    TDelayedTaskQueue queue_{[this] { return now_; }};
    std::string ran_;
};

TEST_F(DelayedTaskQueueTest, RunsTasksWhenDueInDueOrderThenPostingOrder)
{
    queue_.RunLater(100ms, [&] { ran_ += 'b'; });
    queue_.RunLater(50ms, [&] { ran_ += 'a'; });
    queue_.RunLater(100ms, [&] { ran_ += 'c'; });
    EXPECT_EQ(queue_.NextDue(), now_ + 50ms);
    now_ += 99ms;
    EXPECT_EQ(queue_.RunDue(), 1);
    EXPECT_EQ(ran_, "a");
    now_ += 1ms;
    EXPECT_EQ(queue_.RunDue(), 2);
    EXPECT_EQ(ran_, "abc");
    EXPECT_EQ(queue_.Pending(), 0u);
    EXPECT_FALSE(queue_.NextDue());
}

TEST_F(DelayedTaskQueueTest, TasksPostedByATaskWaitForTheirOwnTime)
{
    queue_.RunLater(100ms, [&] {
        ran_ += 'a';
        queue_.RunLater(0ms, [&] { ran_ += 'b'; });
    });
    now_ += 100ms;
    EXPECT_EQ(queue_.RunDue(), 1);
    EXPECT_EQ(ran_, "a");
    EXPECT_EQ(queue_.RunDue(), 1);
    EXPECT_EQ(ran_, "ab");
}

TEST_F(DelayedTaskQueueTest, AThrowingTaskKeepsTheTasksBehindItQueued)
{
    queue_.RunLater(10ms, [] { throw std::runtime_error("task failed"); });
    queue_.RunLater(20ms, [&] { ran_ += 'b'; });
    now_ += 20ms;
    EXPECT_THROW(queue_.RunDue(), std::runtime_error);
    EXPECT_EQ(queue_.Pending(), 1u);
    EXPECT_EQ(queue_.RunDue(), 1);
    EXPECT_EQ(ran_, "b");
}

}  // namespace
}  // namespace kelvaro
