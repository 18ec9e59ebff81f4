// Received bytes, notifications and writes over a pseudo-terminal.
#include "serial/SerialEngineFixture.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace varnis::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST_F(SerialEngineTest, ByteValuesArriveZeroExtendedWithThePortNumber)
{
    ASSERT_TRUE(OpenAndStart(EV_RXCHAR));
    ASSERT_TRUE(m_pty.Write(Bytes{0x00, 0xFF, 0x80}));
    ASSERT_TRUE(WaitForNotifications(3));
    ASSERT_EQ(m_seen.size(), 3U);
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint32_t>{0, 255, 128}));
    for (const SerialNotification& n : m_seen) {
        EXPECT_EQ(n.m_nMessage, SPN_RXCHAR);
        EXPECT_EQ(n.m_nLParam, kPort);
    }
    EXPECT_TRUE(m_reporter.Reports().empty());
}

TEST_F(SerialEngineTest, FiveBytesTogetherGiveOneEventCharThenFiveBytesInOrder)
{
    ASSERT_TRUE(OpenAndStart(kSystemMask));
    ASSERT_TRUE(m_pty.Write(Bytes{0x02, 0x06, 0xAA, 0x03, 0x41}));
    ASSERT_TRUE(WaitForNotifications(6));
    m_loop.RunFor(100ms);  // nothing more may follow
    ASSERT_EQ(m_seen.size(), 6U);
    EXPECT_EQ(m_seen[0].m_nMessage, SPN_EVENT_CHAR);
    EXPECT_EQ(m_seen[0].m_nWParam, 0U);
    EXPECT_EQ(m_seen[0].m_nLParam, kPort);
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint32_t>{0x02, 0x06, 0xAA, 0x03, 0x41}));
}

TEST_F(SerialEngineTest, MonitoredLineEventsAreNotifiedInTheirOrderBeforeTheBytes)
{
    ASSERT_TRUE(OpenAndStart(EV_RING | EV_ERR | EV_BREAK | EV_RXFLAG | EV_CTS | EV_RXCHAR));
    ASSERT_TRUE(m_pty.Write(Bytes{0x07}));
    ASSERT_TRUE(WaitForNotifications(6));
    std::vector<std::uint32_t> messages;
    for (const SerialNotification& n : m_seen) {
        messages.push_back(n.m_nMessage);
    }
    EXPECT_EQ(messages,
              (std::vector<std::uint32_t>{SPN_CTS, SPN_EVENT_CHAR, SPN_BREAK, SPN_LINE_ERROR, SPN_RING, SPN_RXCHAR}));
    EXPECT_EQ(messages.front(), 0x402U);
    EXPECT_EQ(messages.back(), 0x407U);
}

TEST_F(SerialEngineTest, SendFromAHandlerIsWrittenAfterTheWholeDrain)
{
    ASSERT_TRUE(OpenAndStart(kSystemMask));
    std::vector<bool> writtenAlready;
    m_onNotification = [&](const SerialNotification& n) {
        if (n.m_nMessage != SPN_RXCHAR) {
            return;
        }
        writtenAlready.push_back(m_pty.MasterReadable());
        if (n.m_nWParam == 0x02) {
            m_port.Send(Bytes{0x06});
        }
    };
    ASSERT_TRUE(m_pty.Write(Bytes{0x02, 0x11, 0x22, 0x33, 0x44}));
    ASSERT_TRUE(WaitForNotifications(6));
    EXPECT_EQ(m_pty.Read(1, 5000ms), "\x06");
    // An early write would have purged the bytes still waiting.
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint32_t>{0x02, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(writtenAlready, std::vector<bool>(5, false));
}

TEST_F(SerialEngineTest, SendBeforeStartMonitorIsWrittenOnceTheThreadRuns)
{
    ASSERT_TRUE(Open());
    m_port.Send("early");
    EXPECT_EQ(m_pty.Read(5, 100ms), "");
    ASSERT_TRUE(m_port.StartMonitor());
    EXPECT_EQ(m_pty.Read(5, 5000ms), "early");
    EXPECT_EQ(m_pty.Read(1, 100ms), "");
}

TEST_F(SerialEngineTest, TwoSendsBeforeTheThreadServesThemWriteOnlyTheSecondOnce)
{
    ASSERT_TRUE(Open());
    m_port.Send("first");
    m_port.Send("second");
    ASSERT_TRUE(m_port.StartMonitor());
    EXPECT_EQ(m_pty.Read(6, 5000ms), "second");
    EXPECT_EQ(m_pty.Read(1, 200ms), "");

    // The same while the thread runs, held off by a pause.
    ASSERT_TRUE(m_port.SuspendMonitor());
    m_port.Send(Bytes{0x01});
    m_port.Send(Bytes{0x02, 0x03});
    EXPECT_EQ(m_pty.Read(1, 150ms), "");
    ASSERT_TRUE(m_port.ResumeMonitor());
    EXPECT_EQ(m_pty.Read(2, 5000ms), "\x02\x03");
    EXPECT_EQ(m_pty.Read(1, 200ms), "");
}

// A write counts as finished when its bytes have left the line; the wait for
// that looks again only as often as the queued bytes need, ends at the
// write time-out, and gives way to a stop at once.
TEST(SerialWriteDrain, WaitsForTheOutputQueueWithoutSpinning)
{
    using Clock = std::chrono::steady_clock;
    EventFlag stop;
    ASSERT_TRUE(stop.Create());
    std::vector<int> queue{30, 12, 1, 0};
    std::size_t nLooks = 0;
    const auto draining = [&] { return queue[std::min(nLooks++, queue.size() - 1)]; };
    EXPECT_EQ(WaitForOutputDrained(draining, 9600, Clock::now() + 5s, stop.Handle()), 0);
    EXPECT_EQ(nLooks, 4U);

    nLooks = 0;
    const auto unknown = [&] {
        ++nLooks;
        return -1;
    };  // a line that cannot tell
    EXPECT_EQ(WaitForOutputDrained(unknown, 9600, Clock::now() + 5s, stop.Handle()), 0);
    EXPECT_EQ(nLooks, 1U);

    nLooks = 0;
    const auto stuck = [&] {
        ++nLooks;
        return 10;
    };  // about 10 ms a look at 9600 baud
    const Clock::time_point started = Clock::now();
    EXPECT_EQ(WaitForOutputDrained(stuck, 9600, started + 100ms, stop.Handle()), 10);
    EXPECT_GE(Clock::now() - started, 100ms);
    EXPECT_LE(nLooks, 12U);

    stop.Set();
    nLooks = 0;
    EXPECT_EQ(WaitForOutputDrained(stuck, 9600, Clock::now() + 60s, stop.Handle()), 10);
    EXPECT_LE(nLooks, 2U);
}

TEST_F(SerialEngineTest, TextAndCountedSendsPutExactlyTheirBytesOnTheLine)
{
    ASSERT_TRUE(OpenAndStart());
    m_port.Send("AB");
    EXPECT_EQ(m_pty.Read(2, 5000ms), "AB");
    m_port.Send(Bytes{0x00, 0x01, 0x00});
    EXPECT_EQ(m_pty.Read(3, 5000ms), std::string("\x00\x01\x00", 3));
    EXPECT_EQ(m_pty.Read(1, 100ms), "");  // no terminator, no leftovers
    EXPECT_EQ(m_traces.CountContaining("WriteFile() error"), 0);
}

TEST_F(SerialEngineTest, SendLargerThanTheBufferWritesNothingAndSaysWhy)
{
    ASSERT_TRUE(OpenAndStart(kSystemMask, 4));
    m_port.Send(Bytes{1, 2, 3, 4, 5});
    m_port.Send("abcd");  // four characters and the terminator do not fit in four bytes
    EXPECT_EQ(m_pty.Read(1, 200ms), "");
    EXPECT_EQ(m_traces.CountContaining("Send() refused"), 2);
    m_port.Send(Bytes{1, 2, 3, 4});
    EXPECT_EQ(m_pty.Read(4, 5000ms), "\x01\x02\x03\x04");
    m_port.Send("abc");
    EXPECT_EQ(m_pty.Read(3, 5000ms), "abc");
}

TEST_F(SerialEngineTest, BytesWaitingWhenAWriteStartsArePurged)
{
    // Without EV_RXCHAR the engine leaves received bytes in the queue.
    ASSERT_TRUE(OpenAndStart(EV_RXFLAG));
    ASSERT_TRUE(m_pty.Write("junk"));
    ASSERT_TRUE(Eventually([&] { return m_pty.SlaveQueued() == 4; }));
    m_port.Send("Z");
    EXPECT_EQ(m_pty.Read(1, 5000ms), "Z");
    EXPECT_EQ(m_pty.SlaveQueued(), 0);
    m_loop.RunFor(50ms);
    EXPECT_TRUE(m_seen.empty());
}

TEST_F(SerialEngineTest, SuspendedThreadNeitherNotifiesNorWritesUntilResumed)
{
    ASSERT_TRUE(OpenAndStart(EV_RXCHAR));
    ASSERT_TRUE(m_port.SuspendMonitor());
    ASSERT_TRUE(m_pty.Write(Bytes{0x31, 0x32}));
    m_loop.RunFor(150ms);
    EXPECT_TRUE(m_seen.empty());
    ASSERT_TRUE(m_port.ResumeMonitor());
    ASSERT_TRUE(WaitForNotifications(2));
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint32_t>{0x31, 0x32}));
    EXPECT_EQ(m_traces.Count("Thread suspended\n"), 1);
    EXPECT_EQ(m_traces.Count("Thread resumed\n"), 1);
}

// The answer to a catch-up comes after every byte the port held when it was
// asked for, and after a write already handed over (whose purge spares them).
TEST_F(SerialEngineTest, CatchUpIsAnsweredAfterTheBytesAlreadyReceived)
{
    EXPECT_FALSE(m_port.RequestCatchUp(2));  // no thread to answer
    ASSERT_TRUE(OpenAndStart(EV_RXCHAR));
    ASSERT_TRUE(m_port.RequestCatchUp(1));
    ASSERT_TRUE(WaitForNotifications(1));
    EXPECT_EQ(m_seen[0].m_nMessage, SPN_CAUGHT_UP);
    EXPECT_EQ(m_seen[0].m_nWParam, 1U);
    EXPECT_EQ(m_seen[0].m_nLParam, kPort);
    m_seen.clear();

    ASSERT_TRUE(m_port.SuspendMonitor());
    ASSERT_TRUE(m_pty.Write(Bytes{0x06, 0x41}));
    for (int nLook = 0; nLook < 5000 && m_pty.SlaveQueued() < 2; ++nLook) {
        m_loop.RunFor(1ms);  // the pseudo-terminal hands the bytes on in its own time
    }
    ASSERT_EQ(m_pty.SlaveQueued(), 2);
    ASSERT_TRUE(m_port.RequestCatchUp(2));
    m_port.Send(Bytes{0x02});
    ASSERT_TRUE(m_port.ResumeMonitor());
    ASSERT_TRUE(WaitForNotifications(3));
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint32_t>{0x06, 0x41}));
    EXPECT_EQ(m_seen[2].m_nMessage, SPN_CAUGHT_UP);
    EXPECT_EQ(m_seen[2].m_nWParam, 2U);
#ifndef _WIN32
    // The write went out before the answer. Under Wine the far end is reached
    // through a relay, which hands the byte on in its own time: there only
    // its arrival is looked at, below.
    EXPECT_TRUE(m_pty.MasterReadable());
#endif
    EXPECT_EQ(m_pty.Read(1, 5000ms), "\x02");

    ASSERT_TRUE(m_port.Close());
    EXPECT_FALSE(m_port.RequestCatchUp(2));
}

TEST_F(SerialEngineTest, NotificationsAfterTheOwnerHasGoneHaveNoEffect)
{
    ASSERT_TRUE(OpenAndStart(EV_RXCHAR));
    m_owner.Close();
    ASSERT_TRUE(m_pty.Write(Bytes{0x01, 0x02}));
    ASSERT_TRUE(Eventually([&] { return m_pty.SlaveQueued() == 0; }));  // read and dropped
    m_port.Send("ok");                                                  // the thread is not stuck
    EXPECT_EQ(m_pty.Read(2, 5000ms), "ok");
    m_loop.RunFor(50ms);
    EXPECT_TRUE(m_seen.empty());
}

TEST_F(SerialEngineTest, HangUpIsReportedOnceAndThenCostsNoCpu)
{
    ASSERT_TRUE(OpenAndStart());
    m_pty.CloseMaster();
    // The report, then the owner learns that the line is lost, once.
    const auto lost = [&] {
        return std::count_if(m_seen.begin(), m_seen.end(),
                             [](const SerialNotification& n) { return n.m_nMessage == SPN_LINE_LOST; });
    };
    ASSERT_TRUE(m_loop.RunUntil([&] { return lost() == 1; }, 5000ms));
    EXPECT_EQ(m_reporter.Reports().size(), 1U);
    EXPECT_EQ(m_seen.back().m_nLParam, kPort);

    timespec before{};
    timespec after{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    std::this_thread::sleep_for(1000ms);
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    const double dCpuMs = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
    EXPECT_LT(dCpuMs, 50.0);

    const std::vector<ReportRecord> reports = m_reporter.Reports();
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0].m_caption, "Application Error");
    EXPECT_TRUE(reports[0].m_bCancellable);
    EXPECT_TRUE(reports[0].m_text.starts_with("WARNING:  WaitCommEvent() Failed with the following error: \n"))
        << reports[0].m_text;
    EXPECT_TRUE(reports[0].m_text.ends_with("\nPort: 3\n")) << reports[0].m_text;
    EXPECT_TRUE(m_port.IsMonitorAlive());  // still there for stop and send

    // A write on the dead line fails once, is reported, and is not repeated.
    m_port.Send("x");
    ASSERT_TRUE(Eventually([&] { return m_reporter.Reports().size() == 2; }));
    EXPECT_TRUE(m_reporter.Reports()[1].m_text.starts_with("WARNING:  WriteFile() Failed"))
        << m_reporter.Reports()[1].m_text;
    EXPECT_TRUE(Eventually(
        [&] { return m_traces.Count("WARNING: WriteFile() error.. Bytes Sent: 0; Message Length: 1\n") == 1; }));
    m_loop.RunFor(100ms);
    EXPECT_EQ(m_reporter.Reports().size(), 2U);
    EXPECT_EQ(lost(), 1);
}

// A figure rather than a rule (the scheduler decides it): how soon a byte
// the device sends reaches the owner, the median of 20. The Windows tier runs
// it under Wine with every line wait ending at once.
TEST_F(SerialEngineTest, DISABLED_AByteReachesTheOwnerWithin20Ms)
{
    ASSERT_TRUE(OpenAndStart(EV_RXCHAR));
    std::vector<long long> delays;
    for (std::size_t n = 1; n <= 20; ++n) {
        m_loop.RunFor(30ms);  // the line idles between bytes
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(m_pty.Write(Bytes{0x06}));
        ASSERT_TRUE(m_loop.RunUntil([&] { return ReceivedBytes().size() >= n; }, 5000ms));
        delays.push_back(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(delays.begin(), delays.end());
    std::printf("byte to owner: median %lld us, slowest %lld us\n", delays[10], delays.back());
    EXPECT_LE(delays[10], 20000);
}

}  // namespace
}  // namespace varnis::test
