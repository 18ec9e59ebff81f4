// What the engine does to a POSIX line: its termios, a lock another program
// holds, the system's own error texts.
#include "serial/SerialEngineFixture.h"

#include <sys/file.h>
#include <termios.h>

namespace varnis::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST_F(SerialEngineTest, OpenAppliesTheLineSettingsAndTraces)
{
    m_port.SetPortTable(m_table);
    m_port.SetErrorReporter(&m_reporter);
    ASSERT_TRUE(m_port.Initialise(&m_owner, kPort, 19200, 'O', 7, 2, kSystemMask, 64));
    termios attributes{};
    ASSERT_EQ(::tcgetattr(m_pty.Slave(), &attributes), 0);
    EXPECT_EQ(::cfgetospeed(&attributes), static_cast<speed_t>(B19200));
    // A pseudo-terminal keeps the speed and the stop bits but forces eight
    // data bits without parity; the engine's record holds what it asked for.
    EXPECT_NE(attributes.c_cflag & CSTOPB, 0U);
    EXPECT_NE(attributes.c_cflag & (CLOCAL | CREAD), 0U);
    EXPECT_EQ(attributes.c_cflag & CRTSCTS, 0U);
    EXPECT_EQ(attributes.c_iflag & (IXON | IXOFF), 0U);
    EXPECT_EQ(attributes.c_lflag & (ICANON | ECHO), 0U);

    const LineSettings settings = m_port.GetLineSettings();
    EXPECT_EQ(settings.m_nBaud, 19200);
    EXPECT_EQ(settings.m_cParity, 'O');
    EXPECT_EQ(settings.m_nDataBits, 7);
    EXPECT_EQ(settings.m_nStopBits, 2);
    EXPECT_TRUE(settings.m_bRts);
    EXPECT_EQ(m_port.GetEventMask(), kSystemMask);
    EXPECT_EQ(m_port.GetSendBufferSize(), 64);
    EXPECT_TRUE(m_reporter.Reports().empty());  // no modem lines on a pty: no failure
    EXPECT_EQ(m_traces.Count("Initialisation for communicationport 3 completed.\nUse Startmonitor to communicate.\n"),
              1);

    ASSERT_TRUE(m_port.StartMonitor());
    EXPECT_EQ(m_traces.Count("Thread started\n"), 1);
}

TEST_F(SerialEngineTest, UnusableSettingsAreReportedOnceAndTheOpenStillSucceeds)
{
    m_port.SetPortTable(m_table);
    m_port.SetErrorReporter(&m_reporter);
    ASSERT_TRUE(m_port.Initialise(&m_owner, kPort, 12345, 'N', 8, 1, kSystemMask, 512));
    std::vector<ReportRecord> reports = m_reporter.Reports();
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0].m_text,
              "WARNING:  SetCommState() Failed with the following error: \nInvalid argument\nPort: 3\n");
    EXPECT_EQ(reports[0].m_caption, "Application Error");
    EXPECT_FALSE(reports[0].m_bCancellable);  // the owner's thread

    ASSERT_TRUE(m_port.Initialise(&m_owner, kPort, 9600, 'X', 8, 1, kSystemMask, 512));
    reports = m_reporter.Reports();
    ASSERT_EQ(reports.size(), 2U);
    EXPECT_TRUE(reports[1].m_text.starts_with("WARNING:  BuildCommDCB() Failed")) << reports[1].m_text;

    // A port the user named by its path has no number to show: the path stands there.
    m_table.SetNamedPath(kPort, m_pty.SlavePath());
    m_port.SetPortTable(m_table);
    ASSERT_TRUE(m_port.Initialise(&m_owner, kPort, 12345, 'N', 8, 1, kSystemMask, 512));
    reports = m_reporter.Reports();
    ASSERT_EQ(reports.size(), 3U);
    EXPECT_TRUE(reports[2].m_text.ends_with("\nPort: " + m_pty.SlavePath() + "\n")) << reports[2].m_text;

    // The port is open all the same: it works.
    ASSERT_TRUE(m_port.StartMonitor());
    m_port.Send("x");
    EXPECT_EQ(m_pty.Read(1, 5000ms), "x");
}

TEST_F(SerialEngineTest, PortHeldElsewhereOrMissingFailsSilentlyAndAnotherPortThenWorks)
{
    ASSERT_EQ(::flock(m_pty.Slave(), LOCK_EX | LOCK_NB), 0);  // another program holds it
    EXPECT_FALSE(Open());
    ASSERT_EQ(::flock(m_pty.Slave(), LOCK_UN), 0);

    SerialPort other;
    other.SetPortTable(m_table);
    other.SetErrorReporter(&m_reporter);
    ASSERT_TRUE(other.Initialise(&m_owner, kPort, 9600, 'N', 8, 1, kSystemMask, 512));
    EXPECT_FALSE(Open());  // another engine holds it

    m_port.SetPortTable(m_table);
    EXPECT_FALSE(m_port.Initialise(&m_owner, 5, 9600, 'N', 8, 1, kSystemMask, 512));  // nothing behind COM5
    EXPECT_TRUE(m_reporter.Reports().empty());

    PtyPair second;
    ASSERT_TRUE(second.IsOpen());
    m_table.SetPath(4, second.SlavePath());
    m_port.SetPortTable(m_table);
    ASSERT_TRUE(m_port.Initialise(&m_owner, 4, 9600, 'N', 8, 1, EV_RXCHAR, 512));
    ASSERT_TRUE(m_port.StartMonitor());
    ASSERT_TRUE(second.Write(Bytes{0x55}));
    ASSERT_TRUE(WaitForNotifications(1));
    EXPECT_EQ(m_seen[0].m_nLParam, 4U);
}

}  // namespace
}  // namespace varnis::test
