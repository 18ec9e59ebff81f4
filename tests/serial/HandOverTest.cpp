#include "serial/OwnerThread.h"

#include "serial/SerialTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace varnis::test {
namespace {

TEST(HandOverChannel, RunsOnTheOwnersThreadAndWaitsForTheEnd)
{
    EventLoop loop;
    HandOverChannel channel(loop);
    std::thread::id ranOn;
    std::atomic<bool> bResult{false};
    std::atomic<bool> bReturned{false};
    std::thread caller([&] {
        bResult = channel.RunAndWait([&] { ranOn = std::this_thread::get_id(); }, CancelSignal{});
        bReturned = true;
        loop.Post([] {});  // wake the loop to look again
    });
    EXPECT_TRUE(loop.RunUntil([&] { return bReturned.load(); }, 5000ms));
    caller.join();
    EXPECT_TRUE(bResult);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(HandOverChannel, CancelledCallReturnsAndNeverStarts)
{
    EventLoop loop;
    CountingOwnerThread counting(loop);
    HandOverChannel channel(counting);
    EventFlag stop;
    ASSERT_TRUE(stop.Create());
    std::atomic<bool> bRan{false};
    std::atomic<int> nResult{-1};
    std::thread caller([&] { nResult = channel.RunAndWait([&] { bRan = true; }, CancelSignal{stop.Handle()}); });
    ASSERT_TRUE(Eventually([&] { return counting.Posts() == 1; }));
    stop.Set();  // the owner's loop is not running: only the cancel can end the wait
    caller.join();
    EXPECT_EQ(nResult, 0);
    loop.RunFor(20ms);
    EXPECT_FALSE(bRan);

    // Already signalled: nothing is even posted.
    EXPECT_FALSE(channel.RunAndWait([&] { bRan = true; }, CancelSignal{stop.Handle()}));
    EXPECT_EQ(counting.Posts(), 1);
}

TEST(HandOverChannel, CloseReleasesCallsInFlightAndLaterCallsDoNothing)
{
    EventLoop loop;
    CountingOwnerThread counting(loop);
    HandOverChannel channel(counting);
    std::atomic<int> nRuns{0};
    std::atomic<int> nResult{-1};
    std::thread caller([&] { nResult = channel.RunAndWait([&] { ++nRuns; }, CancelSignal{}); });
    ASSERT_TRUE(Eventually([&] { return counting.Posts() == 1; }));
    channel.Close();
    caller.join();
    EXPECT_EQ(nResult, 0);

    std::thread late([&] { nResult = channel.RunAndWait([&] { ++nRuns; }, CancelSignal{}); });
    late.join();
    EXPECT_EQ(nResult, 0);
    loop.RunFor(20ms);
    EXPECT_EQ(nRuns, 0);
}

TEST(HandOverChannel, CallDroppedByAVanishingLoopReturnsFalse)
{
    auto pLoop = std::make_unique<EventLoop>();
    CountingOwnerThread counting(*pLoop);
    HandOverChannel channel(counting);
    std::atomic<int> nResult{-1};
    std::thread caller([&] { nResult = channel.RunAndWait([] {}, CancelSignal{}); });
    ASSERT_TRUE(Eventually([&] { return counting.Posts() == 1; }));
    pLoop.reset();
    caller.join();
    EXPECT_EQ(nResult, 0);
}

TEST(HandOverChannel, CancelWhileRunningDoesNotWaitForTheOwner)
{
    // The owner's handler is itself what cancels (as a window closing from a
    // nested loop would): the waiter must return without the handler's end.
    EventLoop loop;
    HandOverChannel channel(loop);
    EventFlag stop;
    EventFlag leave;
    ASSERT_TRUE(stop.Create());
    ASSERT_TRUE(leave.Create());
    std::atomic<int> nResult{-1};
    std::thread caller([&] {
        nResult = channel.RunAndWait(
            [&] {
                stop.Set();
                leave.Wait(10000);  // released once the caller has returned
            },
            CancelSignal{stop.Handle()});
        leave.Set();
        loop.Post([] {});
    });
    EXPECT_TRUE(loop.RunUntil([&] { return nResult.load() != -1; }, 5000ms));
    caller.join();
    EXPECT_EQ(nResult, 0);
}

TEST(SerialOwnerChannel, DeliversOnTheOwnersThreadAndNothingAfterClose)
{
    EventLoop loop;
    std::vector<SerialNotification> seen;
    SerialOwnerChannel owner(loop, [&](const SerialNotification& n) { seen.push_back(n); });
    std::atomic<bool> bDone{false};
    std::thread engine([&] {
        owner.DeliverNotification({SPN_RXCHAR, 0xFF, 3}, CancelSignal{});
        bDone = true;
        loop.Post([] {});
    });
    ASSERT_TRUE(loop.RunUntil([&] { return bDone.load(); }, 5000ms));
    engine.join();
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].m_nMessage, SPN_RXCHAR);
    EXPECT_EQ(seen[0].m_nWParam, 0xFFU);
    EXPECT_EQ(seen[0].m_nLParam, 3U);

    owner.Close();
    std::thread after([&] { owner.DeliverNotification({SPN_RXCHAR, 1, 3}, CancelSignal{}); });
    after.join();  // returns at once, the loop is not even running
    loop.RunFor(20ms);
    EXPECT_EQ(seen.size(), 1U);
}

}  // namespace
}  // namespace varnis::test
