#include "serial/EventLoop.h"

#include "serial/SerialTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace varnis::test {
namespace {

TEST(EventLoop, PostedCallablesRunInOrderAndLaterPostsWaitTheirTurn)
{
    EventLoop loop;
    std::vector<int> order;
    loop.Post([&] {
        order.push_back(1);
        loop.Post([&] { order.push_back(4); });
    });
    loop.Post([&] { order.push_back(2); });
    loop.Post([&] { order.push_back(3); });
    EXPECT_TRUE(loop.RunUntil([&] { return order.size() == 4; }, 2000ms));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(EventLoop, RunUntilGivesUpAtItsLimitAndRunForServesMeanwhile)
{
    EventLoop loop;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);

    bool bRan = false;
    loop.Post([&] { bRan = true; });
    loop.RunFor(10ms);
    EXPECT_TRUE(bRan);
}

TEST(EventLoop, PostFromAnotherThreadWakesTheSleepingLoop)
{
    EventLoop loop;
    std::atomic<bool> bDone{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(50ms);
        loop.Post([&] { bDone = true; });
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(loop.RunUntil([&] { return bDone.load(); }, 20000ms));
    // Woken by the post, not by the limit.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10000ms);
    poster.join();
}

TEST(EventLoop, TimersArePeriodicUntilStopped)
{
    EventLoop loop;
    int nTicks = 0;
    loop.StartTimer(1, 10, [&] { ++nTicks; });
    EXPECT_TRUE(loop.IsTimerRunning(1));
    EXPECT_FALSE(loop.IsTimerRunning(2));
    EXPECT_TRUE(loop.RunUntil([&] { return nTicks >= 3; }, 5000ms));
    loop.StopTimer(1);
    EXPECT_FALSE(loop.IsTimerRunning(1));
    const int nAtStop = nTicks;
    loop.RunFor(60ms);
    EXPECT_EQ(nTicks, nAtStop);
}

TEST(EventLoop, TimerStoppingItselfFiresOnceAndRestartReplacesPeriodAndCallback)
{
    EventLoop loop;
    int nFirst = 0;
    int nSecond = 0;
    loop.StartTimer(2, 5, [&] {
        ++nFirst;
        loop.StopTimer(2);
    });
    loop.RunFor(80ms);
    EXPECT_EQ(nFirst, 1);
    EXPECT_FALSE(loop.IsTimerRunning(2));

    // A long period, then a restart with a short one: the short one counts.
    loop.StartTimer(3, 60000, [&] { ++nFirst; });
    loop.StartTimer(3, 5, [&] { ++nSecond; });
    EXPECT_TRUE(loop.RunUntil([&] { return nSecond >= 2; }, 5000ms));
    EXPECT_EQ(nFirst, 1);
}

TEST(EventLoop, TimerRestartedFromItsCallbackKeepsRunning)
{
    EventLoop loop;
    int nTicks = 0;
    std::function<void()> tick = [&] {
        ++nTicks;
        loop.StartTimer(4, 5, tick);
    };
    loop.StartTimer(4, 5, tick);
    EXPECT_TRUE(loop.RunUntil([&] { return nTicks >= 3; }, 5000ms));
    EXPECT_TRUE(loop.IsTimerRunning(4));
}

}  // namespace
}  // namespace varnis::test
