// What a real line does and a pseudo-terminal does not, played at the C
// library's seams: an output queue that drains slowly, a query that finds
// the line gone, a close that lands between two calls of the engine.
#include "serial/LibcSeams.h"
#include "serial/SerialEngineFixture.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace varnis::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The line's state as the hooks play it.
struct PlayedLine {
    std::atomic<dev_t> m_nDevice{0};
    std::atomic<int> m_nQueued{0};      // what the output queue holds
    std::atomic<int> m_nQueueError{0};  // or the error its query fails with
    std::atomic<int> m_nQueueLooks{0};
    std::atomic<int> m_nOutputFlushes{0};
    std::atomic<bool> m_bNothingCounted{false};  // the byte count says 0
    std::atomic<bool> m_bHoldReads{false};       // reads wait for m_closed (bounded)
    std::atomic<int> m_nHeldReads{0};
    std::atomic<int> m_nWriteError{0};  // the line's writes fail with it
    EventFlag m_closed;
};
PlayedLine g_line;

bool PlayIoctl(int hFd, unsigned long nRequest, void* pArg, int* pnResult)
{
    if (!seams::IsDevice(hFd, g_line.m_nDevice.load())) {
        return false;
    }
    if (nRequest == TIOCOUTQ) {
        g_line.m_nQueueLooks.fetch_add(1);
        if (const int nError = g_line.m_nQueueError.load(); nError != 0) {
            errno = nError;
            *pnResult = -1;
            return true;
        }
        *static_cast<int*>(pArg) = g_line.m_nQueued.load();
        *pnResult = 0;
        return true;
    }
    if (nRequest == FIONREAD && g_line.m_bNothingCounted.load()) {
        *static_cast<int*>(pArg) = 0;
        *pnResult = 0;
        return true;
    }
    return false;
}

bool PlayWrite(int hFd, std::size_t, ssize_t* pnResult)
{
    const int nError = g_line.m_nWriteError.load();
    if (nError == 0 || !seams::IsDevice(hFd, g_line.m_nDevice.load())) {
        return false;
    }
    errno = nError;
    *pnResult = -1;
    return true;
}

void PlayFlush(int hFd, int nQueue)
{
    if (nQueue == TCOFLUSH && seams::IsDevice(hFd, g_line.m_nDevice.load())) {
        g_line.m_nOutputFlushes.fetch_add(1);
    }
}

void HoldRead(int hFd, std::size_t nCount)
{
    if (nCount == 1 && g_line.m_bHoldReads.load() && seams::IsDevice(hFd, g_line.m_nDevice.load())) {
        g_line.m_bHoldReads = false;
        g_line.m_nHeldReads.fetch_add(1);
        g_line.m_closed.Wait(300);  // a port lock that keeps Close out ends this by time
    }
}

class LineSeamTest : public SerialEngineTest {
protected:
    void SetUp() override
    {
        SerialEngineTest::SetUp();
        struct stat st {};
        ASSERT_EQ(::fstat(m_pty.Slave(), &st), 0);
        g_line.m_nDevice = st.st_rdev;
        g_line.m_nQueued = 0;
        g_line.m_nQueueError = 0;
        g_line.m_nQueueLooks = 0;
        g_line.m_nOutputFlushes = 0;
        g_line.m_bNothingCounted = false;
        g_line.m_bHoldReads = false;
        g_line.m_nHeldReads = 0;
        g_line.m_nWriteError = 0;
        ASSERT_TRUE(g_line.m_closed.Create());
        seams::g_ioctl = &PlayIoctl;
        seams::g_tcflush = &PlayFlush;
        seams::g_beforeRead = &HoldRead;
        seams::g_write = &PlayWrite;
    }
    void TearDown() override
    {
        m_port.Close();
        seams::g_ioctl = nullptr;
        seams::g_tcflush = nullptr;
        seams::g_beforeRead = nullptr;
        seams::g_write = nullptr;
    }
    int LinesLost() const
    {
        return static_cast<int>(std::count_if(
            m_seen.begin(), m_seen.end(), [](const SerialNotification& n) { return n.m_nMessage == SPN_LINE_LOST; }));
    }
};

// While our output is still queued the device may already answer: its byte
// is handed over at once, and the write still ends only once the queue is
// empty.
TEST_F(LineSeamTest, AByteThatComesWhileOutputDrainsIsHandedOverAtOnce)
{
    ASSERT_TRUE(OpenAndStart());
    g_line.m_nQueued = 50;
    m_port.Send("x");
    ASSERT_TRUE(Eventually([] { return g_line.m_nQueueLooks.load() > 0; }));
    ASSERT_TRUE(m_pty.Write(Bytes{0x06}));
    // The write may take 2 s to give up; the byte must not wait for that.
    ASSERT_TRUE(m_loop.RunUntil([&] { return ReceivedBytes().size() == 1; }, 1000ms));
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint32_t>{0x06}));
    g_line.m_nQueued = 0;
    const int nLooks = g_line.m_nQueueLooks.load();
    ASSERT_TRUE(Eventually([&] { return g_line.m_nQueueLooks.load() > nLooks; }));
    m_loop.RunFor(50ms);
    EXPECT_EQ(m_traces.CountContaining("WriteFile() error"), 0);
    EXPECT_EQ(m_pty.Read(1, 1000ms), "x");
    EXPECT_TRUE(m_reporter.Reports().empty());
}

// A failing query of the output queue: only a line that keeps no count
// "cannot tell" (and counts as sent); any other failure is a lost line,
// reported once and told to the owner.
TEST_F(LineSeamTest, OnlyALineThatCannotTellCountsItsQueueAsSent)
{
    struct Case {
        int m_nError;
        bool m_bLost;
    };
    for (const Case& c : {Case{EIO, true}, Case{ENODEV, true}, Case{ENOTTY, false}, Case{EINVAL, false}}) {
        SCOPED_TRACE(std::strerror(c.m_nError));
        m_seen.clear();
        const std::size_t nReportsBefore = m_reporter.Reports().size();
        const int nTracesBefore = m_traces.CountContaining("Bytes Sent: 0; Message Length: 1");
        ASSERT_TRUE(OpenAndStart());
        g_line.m_nQueueError = c.m_nError;
        m_port.Send("x");
        ASSERT_EQ(m_pty.Read(1, 5000ms), "x");
        const auto traced = [&] {
            return m_traces.CountContaining("Bytes Sent: 0; Message Length: 1") - nTracesBefore;
        };
        if (c.m_bLost) {
            ASSERT_TRUE(m_loop.RunUntil([&] { return LinesLost() > 0; }, 5000ms));
            ASSERT_TRUE(Eventually([&] { return traced() > 0; }));
        } else {
            m_loop.RunFor(200ms);
        }
        const std::vector<ReportRecord> reports = m_reporter.Reports();
        EXPECT_EQ(LinesLost(), c.m_bLost ? 1 : 0);
        ASSERT_EQ(reports.size() - nReportsBefore, c.m_bLost ? 1U : 0U);
        EXPECT_EQ(traced(), c.m_bLost ? 1 : 0);
        if (c.m_bLost) {
            EXPECT_EQ(reports.back().m_text,
                      "WARNING:  GetOverlappedResults() in WriteFile() Failed with the "
                      "following error: \n" +
                          SystemErrorText(c.m_nError) + "\nPort: 3\n");
        }
        g_line.m_nQueueError = 0;
    }
}

// Output a write gave up on is discarded before the port is let go, so the
// last close never waits on it; output that has left is not touched.
TEST_F(LineSeamTest, CloseDiscardsOnlyOutputStillQueued)
{
    ASSERT_TRUE(OpenAndStart());
    m_port.Send("x");
    ASSERT_EQ(m_pty.Read(1, 5000ms), "x");
    ASSERT_TRUE(Eventually([] { return g_line.m_nQueueLooks.load() > 0; }));
    ASSERT_TRUE(m_port.Close());
    EXPECT_EQ(g_line.m_nOutputFlushes.load(), 0);

    ASSERT_TRUE(OpenAndStart());
    g_line.m_nQueued = 10;  // the far end has stopped taking bytes
    m_port.Send("y");
    ASSERT_TRUE(Eventually([] { return g_line.m_nQueueLooks.load() > 1; }));
    ASSERT_TRUE(m_port.Close());
    EXPECT_EQ(g_line.m_nOutputFlushes.load(), 1);
}

// A Close that lands between the engine's byte count and its read lets go of
// a port the engine no longer reads: that is no failure of the line.
TEST_F(LineSeamTest, ACloseBetweenTheCountAndTheReadIsNoFailure)
{
    ASSERT_TRUE(OpenAndStart(EV_RXCHAR));
    g_line.m_bNothingCounted = true;
    g_line.m_bHoldReads = true;
    ASSERT_TRUE(m_pty.Write(Bytes{0x06}));
    ASSERT_TRUE(Eventually([] { return g_line.m_nHeldReads.load() == 1; }));
    ASSERT_TRUE(m_port.Close());
    g_line.m_closed.Set();
    EXPECT_TRUE(Eventually([&] { return !m_port.IsMonitorAlive(); }));
    m_loop.RunFor(50ms);
    EXPECT_TRUE(m_reporter.Reports().empty()) << m_reporter.Reports()[0].m_text;
    EXPECT_EQ(LinesLost(), 0);
}

// A write that fails: a code of a line gone is one lost-line report and
// SPN_LINE_LOST; another code is a plain report and the line stays.
TEST_F(LineSeamTest, AFailedWriteOfALostLineIsReportedOnce)
{
    for (const auto& [nError, bLost] :
         {std::pair{EIO, true}, std::pair{ENODEV, true}, std::pair{ENXIO, true}, std::pair{EINVAL, false}}) {
        SCOPED_TRACE(std::strerror(nError));
        m_seen.clear();
        const std::size_t nBefore = m_reporter.Reports().size();
        ASSERT_TRUE(OpenAndStart());
        g_line.m_nWriteError = nError;
        m_port.Send("x");
        ASSERT_TRUE(m_loop.RunUntil([&] { return m_reporter.Reports().size() > nBefore; }, 5000ms));
        m_loop.RunFor(100ms);
        const std::vector<ReportRecord> reports = m_reporter.Reports();
        ASSERT_EQ(reports.size(), nBefore + 1);
        EXPECT_EQ(reports.back().m_text, "WARNING:  WriteFile() Failed with the following error: \n" +
                                             SystemErrorText(nError) + "\nPort: 3\n");
        EXPECT_EQ(LinesLost(), bLost ? 1 : 0);
        g_line.m_nWriteError = 0;
        ASSERT_TRUE(m_port.Close());
    }
}

// Input still queued when the line hangs up, while received bytes are not
// watched: the loss is told at once, and no byte is handed over.
TEST_F(LineSeamTest, AHangUpWithInputQueuedIsALossWhenBytesAreNotWatched)
{
    ASSERT_TRUE(OpenAndStart(EV_RXFLAG));
    ASSERT_TRUE(m_pty.Write(Bytes{0x41, 0x42}));
    ASSERT_TRUE(Eventually([&] { return m_pty.SlaveQueued() == 2; }));
    m_pty.CloseMaster();
    ASSERT_TRUE(m_loop.RunUntil([&] { return LinesLost() == 1; }, 1000ms));
    m_loop.RunFor(100ms);
    EXPECT_TRUE(ReceivedBytes().empty());
    EXPECT_EQ(m_reporter.Reports().size(), 1U);
}

}  // namespace
}  // namespace varnis::test
