// Opening, configuring, closing and destroying the engine; stop requests that
// meet a thread busy with a notification.
#include "serial/SerialEngineFixture.h"

#include <functional>
#include <memory>

namespace varnis::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kStx = 0x02;  // what a device sends as its reply begins

TEST_F(SerialEngineTest, CloseEndsAWaitingThreadAtOnceAndFreesThePort)
{
    ASSERT_TRUE(OpenAndStart());
    EXPECT_TRUE(m_port.IsMonitorAlive());
    EXPECT_TRUE(m_port.Close());

    // Free for the next open right away, not only once the thread has gone.
    SerialPort next;
    next.SetPortTable(m_table);
    next.SetErrorReporter(&m_reporter);
    std::vector<SerialNotification> nextSeen;
    SerialOwnerChannel nextOwner(m_loop, [&](const SerialNotification& n) { nextSeen.push_back(n); });
    ASSERT_TRUE(next.Initialise(&nextOwner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));

    EXPECT_TRUE(Eventually([&] { return !m_port.IsMonitorAlive(); }));
    ASSERT_TRUE(next.StartMonitor());
    ASSERT_TRUE(m_pty.Write(Bytes{0x42}));
    ASSERT_TRUE(m_loop.RunUntil([&] { return !nextSeen.empty(); }, 5000ms));
    m_loop.RunFor(50ms);
    EXPECT_TRUE(m_seen.empty());
    EXPECT_TRUE(m_reporter.Reports().empty());

    EXPECT_TRUE(m_port.Close());  // twice: no other effect
    EXPECT_TRUE(next.Close());
}

TEST(SerialEngineClose, CloseWithoutAPortReturnsTrue)
{
    SerialPort port;
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsMonitorAlive());
    EXPECT_FALSE(port.StartMonitor());  // never initialised: no thread
}

TEST_F(SerialEngineTest, InitialiseWhileTheThreadRunsEndsItFirst)
{
    ASSERT_TRUE(OpenAndStart(EV_RXCHAR));
    ASSERT_TRUE(Open(EV_RXCHAR));  // the same port again
    EXPECT_EQ(m_traces.Count("Thread ended\n"), 1);
    EXPECT_FALSE(m_port.IsMonitorAlive());

    ASSERT_TRUE(m_port.StartMonitor());
    ASSERT_TRUE(m_pty.Write(Bytes{0x10}));
    ASSERT_TRUE(WaitForNotifications(1));
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint32_t>{0x10}));
}

TEST_F(SerialEngineTest, StopWaitThatMeetsANotificationInFlightReturnsAndTheCallNeverRuns)
{
    // The owner's thread (this one) does not serve its loop while it stops
    // the engine: the hand-over in flight must give way.
    CountingOwnerThread counting(m_loop);
    int nHandled = 0;
    SerialOwnerChannel owner(counting, [&](const SerialNotification&) { ++nHandled; });
    m_port.SetPortTable(m_table);
    ASSERT_TRUE(m_port.Initialise(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));
    ASSERT_TRUE(m_port.StartMonitor());
    ASSERT_TRUE(m_pty.Write(Bytes{0x01, 0x02}));
    ASSERT_TRUE(Eventually([&] { return counting.Posts() == 1; }));

    ASSERT_TRUE(m_port.Initialise(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));
    EXPECT_EQ(m_traces.Count("Thread ended\n"), 1);
    m_loop.RunFor(50ms);
    EXPECT_EQ(nHandled, 0);
    EXPECT_EQ(counting.Posts(), 1);  // the drain ended with the stop
}

// An error report is a call out of the engine, and the owner may run any
// handler inside it (the window's box runs an event loop): here the search
// moves on to the next port from inside the report. No engine lock may be
// held by then, or the nested Initialise waits on its own thread for ever.
TEST_F(SerialEngineTest, AnErrorReportMayReEnterTheEngine)
{
    PtyPair next;
    ASSERT_TRUE(next.IsOpen());
    m_table.SetPath(kPort + 1, next.SlavePath());
    class ReEnteringReporter : public IErrorReporter {
    public:
        std::function<void()> m_onReport;
        int m_nReports = 0;
        void ReportError(std::string_view, std::string_view, const CancelSignal&) override
        {
            ++m_nReports;
            m_onReport();
        }
    } reporter;
    SerialPort port;  // goes before the reporter and the line it uses
    port.SetPortTable(m_table);
    reporter.m_onReport = [&] { EXPECT_TRUE(port.Initialise(&m_owner, kPort + 1, 9600, 'N', 8, 1, kSystemMask, 512)); };
    port.SetErrorReporter(&reporter);

    EXPECT_TRUE(port.Initialise(&m_owner, kPort, 9600, 'X', 8, 1, kSystemMask, 512));  // no parity 'X'
    EXPECT_EQ(reporter.m_nReports, 1);

    // The nested call holds the engine now: its port works, and the first
    // port has been let go of.
    ASSERT_TRUE(port.StartMonitor());
    ASSERT_TRUE(next.Write(Bytes{0x42}));
    ASSERT_TRUE(WaitForNotifications(2));
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint32_t>{0x42}));
    EXPECT_EQ(m_seen.back().m_nLParam, kPort + 1);
    SerialPort other;
    other.SetPortTable(m_table);
    EXPECT_TRUE(other.Initialise(&m_owner, kPort, 9600, 'N', 8, 1, kSystemMask, 512));
}

// Once Close or the next Initialise has returned on the owner's thread, no
// notification of the old line runs there: not one the monitoring thread is
// still handing over, and not one already queued for its turn.
TEST_F(SerialEngineTest, NoNotificationOfAClosedLineRunsAfterwards)
{
    HoldingOwnerThread ownerThread;
    int nHandled = 0;
    SerialOwnerChannel owner(ownerThread, [&](const SerialNotification&) { ++nHandled; });
    SerialPort port;  // destroyed before its owner
    port.SetPortTable(m_table);
    const auto openAndReceive = [&] {
        ASSERT_TRUE(port.Initialise(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));
        ASSERT_TRUE(port.StartMonitor());
        ASSERT_TRUE(m_pty.Write(Bytes{kStx}));
        ASSERT_TRUE(ownerThread.WaitPosted(5000ms));
    };

    // Half delivered: the monitoring thread is still inside the hand-over.
    ownerThread.m_bHold = true;
    openAndReceive();
    port.Close();
    ownerThread.RunQueued();
    EXPECT_EQ(nHandled, 0);
    ownerThread.m_bHold = false;
    ownerThread.Release();

    // Queued: handed over whole, waiting for the owner's thread; stopped by
    // Close, and by the next Initialise.
    openAndReceive();
    port.Close();
    ownerThread.RunQueued();
    EXPECT_EQ(nHandled, 0);
    openAndReceive();
    ASSERT_TRUE(port.Initialise(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));
    ownerThread.RunQueued();
    EXPECT_EQ(nHandled, 0);

    // Without a stop the same notification runs.
    ASSERT_TRUE(port.StartMonitor());
    ASSERT_TRUE(m_pty.Write(Bytes{kStx}));
    ASSERT_TRUE(ownerThread.WaitPosted(5000ms));
    ownerThread.RunQueued();
    EXPECT_EQ(nHandled, 1);
}

TEST_F(SerialEngineTest, StopAndSendTogetherEndTheThreadWithoutWriting)
{
    BlockingOwner owner;
    auto pPort = std::make_unique<SerialPort>();
    pPort->SetPortTable(m_table);
    ASSERT_TRUE(pPort->Initialise(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));
    ASSERT_TRUE(pPort->StartMonitor());
    ASSERT_TRUE(m_pty.Write(Bytes{0x01}));
    ASSERT_TRUE(owner.WaitEntered(5000ms));
    pPort->Send("never");        // send requested while the thread is busy...
    pPort.reset();               // ...and stop requested before it gets back to its wait
    EXPECT_EQ(owner.Left(), 1);  // the destructor waited for the thread to leave the owner
    EXPECT_EQ(owner.Cancelled(), 1);
    EXPECT_EQ(m_pty.Read(1, 200ms), "");
}

TEST_F(SerialEngineTest, CloseDuringADrainEndsItQuietly)
{
    BlockingOwner owner;
    m_port.SetPortTable(m_table);
    m_port.SetErrorReporter(&m_reporter);
    ASSERT_TRUE(m_port.Initialise(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));
    ASSERT_TRUE(m_port.StartMonitor());
    ASSERT_TRUE(m_pty.Write(Bytes{0x01, 0x02, 0x03}));
    ASSERT_TRUE(owner.WaitEntered(5000ms));
    EXPECT_TRUE(m_port.Close());  // the port goes while a byte is in flight and two wait
    EXPECT_TRUE(Eventually([&] { return !m_port.IsMonitorAlive(); }));
    EXPECT_EQ(owner.Cancelled(), 1);
    EXPECT_EQ(owner.Seen().size(), 1U);
    EXPECT_TRUE(m_reporter.Reports().empty());  // a closed port is no failure to report
}

TEST_F(SerialEngineTest, DestroyingARunningEngineWaitsForItsThread)
{
    BlockingOwner owner;
    TraceRecorder& traces = m_traces;
    {
        SerialPort port;
        port.SetPortTable(m_table);
        ASSERT_TRUE(port.Initialise(&owner, kPort, 9600, 'N', 8, 1, EV_RXCHAR, 512));
        ASSERT_TRUE(port.StartMonitor());
        ASSERT_TRUE(m_pty.Write(Bytes{0x01, 0x02, 0x03}));
        ASSERT_TRUE(owner.WaitEntered(5000ms));
    }
    EXPECT_EQ(owner.Left(), 1);
    EXPECT_EQ(owner.Seen().size(), 1U);  // no byte after the stop
    EXPECT_EQ(traces.Count("Thread ended\n"), 1);
    // Freed: the port opens again.
    ASSERT_TRUE(Open());
}

}  // namespace
}  // namespace varnis::test
