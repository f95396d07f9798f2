#include "base/workerpool.h"
#include "site/auth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>

using namespace tunalo::service;
using std::chrono::milliseconds;

TEST(LoginDelay, GrowsWithWrongPasswordsUpToTwoSeconds)
{
    const std::pair<int, milliseconds> cases[] =
        {
            {0, milliseconds(0)},     {1, milliseconds(250)},  {2, milliseconds(500)},
            {3, milliseconds(1000)},  {4, milliseconds(2000)}, {5, milliseconds(2000)},
            {40, milliseconds(2000)}, // no overflow however long someone guesses
        };
    for (const auto& [failures, delay] : cases)
        EXPECT_EQ(loginDelay(failures), delay) << failures;
}

TEST(WorkerPool, RefusesWorkBeyondItsQueueAndRunsTheRest)
{
    std::latch release(1);
    std::latch started(1);
    std::atomic<int> done = 0;
    {
        WorkerPool pool(1, 2);
        ASSERT_TRUE(pool.submit([&] {
            started.count_down();
            release.wait();
            ++done;
        }));
        started.wait(); // the one worker is busy; the queue is empty
        EXPECT_TRUE(pool.submit([&] { ++done; }));
        EXPECT_TRUE(pool.submit([&] { ++done; }));
        EXPECT_FALSE(pool.submit([&] { ++done; })) << "the queue holds two";
        release.count_down();
        while (done < 3)
            std::this_thread::yield();
        EXPECT_TRUE(pool.submit([&] { ++done; })) << "room again once the queue has drained";
    }
    EXPECT_GE(done.load(), 3);
}
