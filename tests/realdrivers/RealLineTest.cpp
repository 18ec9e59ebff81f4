// The engine on a real UART whose output queue stays full: the far end has
// stopped reading, so the emulator holds the transmitter back. Runs inside
// the test guest (scripts/test-real-drivers); VARNIS_REALLINE_PORT names the
// line, VARNIS_REALLINE_PULL_PORT a UART on a card the host can pull out,
// VARNIS_REALLINE_CONTROL the terminal on which the host, which holds the
// lines' far ends, takes requests ("@@HOST what", answered "GO").
#include "serial/SerialPort.h"
#include "serial/SerialTestSupport.h"
#include "platform/posix/UniqueFd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string_view>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace varnis {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Asks the host to do something to the line's far end; true once it has.
bool AskHost(const std::string& request)
{
    const UniqueFd hControl(::open(Env("VARNIS_REALLINE_CONTROL").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!hControl.IsOpen()) {
        return false;
    }
    const std::string line = "@@HOST " + request + "\n";
    if (::write(hControl.Get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        return false;
    }
    std::string answer;
    pollfd entry{hControl.Get(), POLLIN, 0};
    while (answer.find("GO") == std::string::npos && ::poll(&entry, 1, 20000) > 0) {
        std::array<char, 64> buffer{};
        const ssize_t nRead = ::read(hControl.Get(), buffer.data(), buffer.size());
        if (nRead <= 0) {
            return false;
        }
        answer.append(buffer.data(), static_cast<std::size_t>(nRead));
    }
    return answer.find("GO") != std::string::npos;
}

UniqueFd OpenLine(const std::string& path)
{
    return UniqueFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
}

// The bytes in the line's output queue, looked at through a descriptor of
// its own (root opens a port held exclusively). Only while another
// descriptor stays open: this one's close must not be the last.
int QueuedNow(const std::string& path)
{
    const UniqueFd hLook = OpenLine(path);
    int nQueued = -1;
    return hLook.IsOpen() && ::ioctl(hLook.Get(), TIOCOUTQ, &nQueued) == 0 ? nQueued : -1;
}

// Writes to the line, whose far end does not read, until the transmitter
// stands still. The filler is closed without a closing wait; the returned
// descriptor has put the closing wait back as it was found, and keeps the
// line open until the caller lets go of it (after the engine has opened it).
UniqueFd StallLine(const std::string& path, std::string& strError)
{
    UniqueFd hFiller = OpenLine(path);
    serial_struct found{};
    if (!hFiller.IsOpen() || ::ioctl(hFiller.Get(), TIOCGSERIAL, &found) != 0) {
        strError = "cannot open the line or read its settings";
        return UniqueFd();
    }
    serial_struct noWait = found;
    noWait.closing_wait = ASYNC_CLOSING_WAIT_NONE;
    termios raw{};
    ::tcgetattr(hFiller.Get(), &raw);
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    raw.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    ::cfsetspeed(&raw, B9600);
    if (::ioctl(hFiller.Get(), TIOCSSERIAL, &noWait) != 0 || ::tcsetattr(hFiller.Get(), TCSANOW, &raw) != 0) {
        strError = "cannot set up the filler";
        return UniqueFd();
    }
    const std::vector<char> chunk(512, 'x');
    const Clock::time_point start = Clock::now();
    int nLastQueued = -1;
    Clock::time_point since = Clock::now();
    while (MsSince(start) < 20000) {
        const ssize_t nWritten = ::write(hFiller.Get(), chunk.data(), chunk.size());
        if (nWritten > 0) {
            since = Clock::now();
            continue;
        }
        int nQueued = -1;
        ::ioctl(hFiller.Get(), TIOCOUTQ, &nQueued);
        if (nQueued != nLastQueued) {
            nLastQueued = nQueued;
            since = Clock::now();
        } else if (nQueued > 0 && MsSince(since) >= 300) {
            UniqueFd hKeeper = OpenLine(path);
            if (!hKeeper.IsOpen() || ::ioctl(hKeeper.Get(), TIOCSSERIAL, &found) != 0) {
                strError = "cannot put the closing wait back";
                return UniqueFd();
            }
            return hKeeper;  // the filler's close is not the last: it does not wait
        }
        std::this_thread::sleep_for(20ms);
    }
    strError = "the transmitter did not stall within 20 s (is the far end still read?)";
    return UniqueFd();
}

// Every notification with the time it came.
class TimedOwner : public ISerialOwner {
public:
    void DeliverNotification(const SerialNotification& n, const CancelSignal&) override
    {
        const std::lock_guard lock(m_mutex);
        m_seen.emplace_back(n, Clock::now());
    }
    std::optional<Clock::time_point> WaitFor(std::uint32_t nByte, std::chrono::milliseconds limit) const
    {
        const Clock::time_point deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            {
                const std::lock_guard lock(m_mutex);
                for (const auto& [n, at] : m_seen) {
                    if (n.m_nMessage == SPN_RXCHAR && n.m_nWParam == nByte) {
                        return at;
                    }
                }
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<SerialNotification, Clock::time_point>> m_seen;
};

// An engine on the stalled line with a card's worth of bytes in its output
// queue. The host reads the line again when the test ends, so that nothing
// stays stalled for the next one.
class StalledLineTest : public ::testing::Test {
protected:
    explicit StalledLineTest(std::string strPort = Env("VARNIS_REALLINE_PORT")) : m_strPort(std::move(strPort)) {}

    void SetUp() override
    {
        if (m_strPort.empty()) {
            GTEST_SKIP() << "no such line in this guest";
        }
        ASSERT_TRUE(AskHost("stall")) << "the host did not answer";
        std::string strError;
        UniqueFd hKeeper = StallLine(m_strPort, strError);
        ASSERT_TRUE(hKeeper.IsOpen()) << strError;
        PortTable table;
        table.SetPath(1, m_strPort);
        m_pPort = std::make_unique<SerialPort>();
        m_pPort->SetPortTable(table);
        m_pPort->SetErrorReporter(&m_reporter);
        ASSERT_TRUE(m_pPort->Initialise(&m_owner, 1, 9600, 'N', 8, 1, EV_RXCHAR | EV_RXFLAG, 512));
        ASSERT_TRUE(m_pPort->StartMonitor());
        hKeeper.Reset();
        const std::vector<std::uint8_t> card(26, 0x5A);
        m_pPort->Send(card);
        const Clock::time_point start = Clock::now();
        while (QueuedNow(m_strPort) <= 0 && MsSince(start) < 2000) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_GT(QueuedNow(m_strPort), 0) << "the card's bytes did not stay queued";
    }
    void TearDown() override
    {
        AskHost("read");
        m_pPort.reset();
    }

    std::string m_strPort;
    test::TraceRecorder m_trace;
    TimedOwner m_owner;
    test::RecordingReporter m_reporter;
    std::unique_ptr<SerialPort> m_pPort;
};

TEST_F(StalledLineTest, ByteArrivingWhileOutputWaitsIsHandedOverAtOnce)
{
    const Clock::time_point asked = Clock::now();
    ASSERT_TRUE(AskHost("byte 06"));
    const auto handedOver = m_owner.WaitFor(0x06, 3000ms);
    ASSERT_TRUE(handedOver.has_value()) << "the byte was not handed over within 3 s while output waited";
    const long long nMs = std::chrono::duration_cast<std::chrono::milliseconds>(*handedOver - asked).count();
    std::printf("figure: byte handed over %lld ms after it was asked for, output queued\n", nMs);
    EXPECT_LT(nMs, 1000);
    EXPECT_GT(QueuedNow(m_strPort), 0) << "the queue drained: the byte did not come while output waited";
}

// The same on the UART of a card that the host pulls out.
class PulledLineTest : public StalledLineTest {
protected:
    PulledLineTest() : StalledLineTest(Env("VARNIS_REALLINE_PULL_PORT")) {}
};

TEST_F(PulledLineTest, PullWhileOutputWaitsIsALostLineNotAllSent)
{
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(AskHost("pull"));
    while (m_reporter.Reports().empty() && MsSince(start) < 3000) {
        std::this_thread::sleep_for(5ms);
    }
    std::printf("figure: pull during the output's wait reported %lld ms after it was asked for\n", MsSince(start));
    std::this_thread::sleep_for(200ms);
    const std::vector<test::ReportRecord> reports = m_reporter.Reports();
    ASSERT_EQ(reports.size(), 1U) << "the lost line is reported once";
    EXPECT_NE(reports[0].m_text.find("Input/output error"), std::string::npos) << reports[0].m_text;
    EXPECT_EQ(m_trace.CountContaining("Bytes Sent: 26;"), 0);
    EXPECT_EQ(m_trace.CountContaining("Bytes Sent:"), 1) << "the write counted its bytes as sent";
}

TEST_F(StalledLineTest, CloseWithOutputQueuedReturnsAtOnce)
{
    // Should the close wait on the kernel, the host reads the line again
    // after 3 s, which ends that wait: the test fails instead of hanging.
    ASSERT_TRUE(AskHost("read-after 3000"));
    const Clock::time_point start = Clock::now();
    m_pPort->Close();
    m_pPort.reset();
    const long long nMs = MsSince(start);
    std::printf("figure: close with output queued took %lld ms\n", nMs);
    EXPECT_LT(nMs, 1000);
}

}  // namespace
}  // namespace varnis

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (varnis::Env("VARNIS_REALLINE_PORT").empty() || varnis::Env("VARNIS_REALLINE_CONTROL").empty()) {
        std::puts("skipped: no real line: run through scripts/test --real-drivers");
        return 77;
    }
    return RUN_ALL_TESTS();
}
