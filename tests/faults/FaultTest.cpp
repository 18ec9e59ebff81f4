// Faults on the line, end to end: the real engine and link over
// pseudo-terminals, driven by the plain window on an EventLoop. Every test
// ends with as many descriptors and threads as it began with, and the system
// it leaves behind uses no CPU while nothing happens.
#include "e2e/E2eHarness.h"
#include "faults/FaultSupport.h"
#include "platform/posix/UniqueFd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace varnis::faults {
namespace {

using namespace std::chrono_literals;
using e2e::Clock;
using e2e::E2eRig;
using e2e::E2eWindow;
using e2e::EngineCall;

// A quiet second may cost a few wake-ups; a thread that spins costs the
// whole second.
constexpr auto kQuietSecond = 1000ms;
constexpr auto kQuietCpuLimit = 50ms;

// Trace lines, recorded (any thread).
class TraceLog {
public:
    TraceLog()
    {
        SetTraceSink([this](std::string_view line) {
            const std::lock_guard lock(m_mutex);
            m_lines.emplace_back(line);
        });
    }
    ~TraceLog() { SetTraceSink(nullptr); }
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    std::vector<std::string> Containing(std::string_view part) const
    {
        const std::lock_guard lock(m_mutex);
        std::vector<std::string> found;
        for (const std::string& line : m_lines) {
            if (line.find(part) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Like EventLoop::RunUntil, for conditions that other threads change: the
// loop looks at `done` only after serving an event, so it is asked often.
bool RunUntilPolled(EventLoop& loop, const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (loop.RunUntil(done, 20ms)) {
            return true;
        }
    }
    return done();
}

// Set once the device has given up waiting for the system's ACK after
// announcing a result (it is idle again then). Install before the announcement.
std::shared_ptr<std::atomic<bool>> WatchForGivingUp(SimDevice& device)
{
    auto pGaveUp = std::make_shared<std::atomic<bool>>(false);
    device.SetLogger([pGaveUp](std::string_view line) {
        if (line.find("no ACK within") != std::string_view::npos) {
            pGaveUp->store(true);
        }
    });
    return pGaveUp;
}

// CPU the whole process uses while `loop` serves events for a second.
std::chrono::nanoseconds CpuOverQuietSecond(EventLoop& loop)
{
    const auto before = ProcessCpuTime();
    loop.RunFor(kQuietSecond);
    return ProcessCpuTime() - before;
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Some sanitizer runtimes start a helper thread of their own with the
        // first thread a program creates; let that happen before counting.
        static const bool bWarmedUp = [] {
            std::thread([] {}).join();
            return true;
        }();
        (void)bWarmedUp;
        m_nFdsBefore = OpenFdCount();
        m_nThreadsBefore = ThreadCount();
        ASSERT_GT(m_nFdsBefore, 0);
        ASSERT_GT(m_nThreadsBefore, 0);
    }
    // Call after everything the test made has been destroyed.
    void ExpectNothingLeft() const
    {
        EXPECT_EQ(OpenFdCount(), m_nFdsBefore) << "file descriptors leaked";
        EXPECT_EQ(ThreadCount(), m_nThreadsBefore) << "threads left running";
    }

    TraceLog m_traces;
    int m_nFdsBefore = 0;
    int m_nThreadsBefore = 0;
};

// The device goes away while the system waits for its reply; a device on a
// fresh line behind the same port number is then found and works.
TEST_F(FaultTest, DeviceUnpluggedMidExchangeIsReportedOnceAndTheNextDeviceWorks)
{
    {
        EventLoop loop;
        E2eWindow window(loop);
        PortTable table;

        auto pLine = std::make_unique<PtyPair>(*PtyPair::Open());
        SimBehaviour behaviour;
        behaviour.m_eFault = SimFault::HangUpMidExchange;
        auto pDevice = std::make_unique<SimDevice>(pLine->MasterFd(), behaviour);
        PtyPair* pRawLine = pLine.get();
        pDevice->SetHangUpHandler([pRawLine] { pRawLine->CloseMaster(); });
        ASSERT_TRUE(pDevice->Start());
        table.SetPath(1, pLine->SlavePath());
        window.UsePortTable(table);
        window.HoldTimersOn(1);  // a device answers there, however late

        window.Link().OnOpenPort();
        ASSERT_TRUE(loop.RunUntil([&] { return window.m_bPortOpen; }, 10s));

        window.Link().OnMake();
        ASSERT_TRUE(RunUntilPolled(
            loop, [&] { return !window.m_errors.Errors().empty(); }, 10s))
            << "the hang-up was never reported";
        // The device marks its line lost once its hang-up has closed it: the
        // engine may see the hang-up first.
        EXPECT_TRUE(RunUntilPolled(
            loop, [&] { return pDevice->LineLost(); }, 10s));
        EXPECT_EQ(pDevice->ExchangeCount(), 1U);

        // The engine stops watching the dead line: no second report, no spin.
        const auto cpu = CpuOverQuietSecond(loop);
        EXPECT_LT(cpu, kQuietCpuLimit) << "CPU used while the hung-up line sat there";
        const std::vector<std::string> errors = window.m_errors.Errors();
        ASSERT_EQ(errors.size(), 1U);
        EXPECT_EQ(errors[0].rfind("Application Error: ", 0), 0U) << errors[0];
        EXPECT_NE(errors[0].find("Port: 1"), std::string::npos) << errors[0];
        // Nothing the user would read as an outcome; the link has learnt of
        // the loss once, and the card has ended: the reader waits for an ACK.
        EXPECT_TRUE(window.m_messages.empty());
        EXPECT_EQ(window.m_nLinesLost, 1);
        EXPECT_EQ(window.m_link.m_nParserState, ParserWaitAck);
        // The loss has closed the port as ClosePort would.
        EXPECT_FALSE(window.m_bPortOpen);
        EXPECT_EQ(window.m_nDisconnected, 1);
        // The old device is gone with its line before the new one is plugged in.
        pDevice.reset();
        pLine.reset();

        auto pNewLine = std::make_unique<PtyPair>(*PtyPair::Open());
        SimBehaviour newBehaviour;
        newBehaviour.m_nAckWaitMs = 200;
        auto pNewDevice = std::make_unique<SimDevice>(pNewLine->MasterFd(), newBehaviour);
        const auto pGaveUp = WatchForGivingUp(*pNewDevice);
        ASSERT_TRUE(pNewDevice->Start());
        table.SetPath(1, pNewLine->SlavePath());
        window.UsePortTable(table);

        const std::size_t nReceivedBefore = window.m_nBytesReceived;
        window.Link().OnOpenPort();
        // The new line is opened, monitored and written: the new device
        // answers the probe, and its ACK reaches the link.
        ASSERT_TRUE(loop.RunUntil([&] { return window.m_nBytesReceived > nReceivedBefore; }, 10s));
        EXPECT_EQ(pNewDevice->ProbesAnswered(), 1U);
        EXPECT_EQ(window.Engine().OpenedPorts(), (std::vector<unsigned>{1, 1}));
        EXPECT_EQ(window.m_errors.Errors().size(), 1U) << "the new line reported errors";
        // The probe's ACK connects, and nothing but the probe was sent: the
        // lost card is not written again unasked.
        ASSERT_TRUE(loop.RunUntil([&] { return window.m_bPortOpen; }, 10s));
        loop.RunFor(300ms);
        EXPECT_EQ(pNewDevice->ExchangeCount(), 0U);
        EXPECT_FALSE(pGaveUp->load());

        // A new "Make Provin" on the new device goes through.
        window.Link().OnMake();
        ASSERT_TRUE(loop.RunUntil([&] { return !window.m_messages.empty(); }, 10s));
        EXPECT_EQ(window.MessageTexts(), std::vector<std::string>{"Success!"});
        EXPECT_EQ(pNewDevice->ExchangeCount(), 1U);

        window.Link().OnClosePort();
        pNewDevice.reset();
        pNewLine.reset();
    }
    ExpectNothingLeft();
}

// After a lost line, a card can be made again on a new device: here the
// exchange is lost before the frame went out (the device never
// acknowledged), and the loss itself ends it.
TEST_F(FaultTest, DeviceUnpluggedBeforeItsAckLeavesTheLinkReadyForTheNextDevice)
{
    {
        E2eRig rig;
        PtyPair* pLine = rig.AddSilentPort(1);
        ASSERT_NE(pLine, nullptr);
        E2eWindow& window = rig.Window();

        // Play the device by hand: answer the probe, then vanish.
        ASSERT_TRUE(rig.ConnectByHand(1, 10s));
        window.Link().OnMake();
        ASSERT_EQ(rig.ReadLine(1, 1, 5s), e2e::Bytes{kStx});
        pLine->CloseMaster();

        ASSERT_TRUE(RunUntilPolled(
            rig.Loop(), [&] { return window.m_nLinesLost == 1; }, 10s));
        // The card ends at once: no reply time is waited out on a line that
        // is gone, and the reader waits for an ACK again.
        EXPECT_FALSE(window.IsTimerRunning(kReplyTimerId));
        EXPECT_FALSE(window.m_build.m_bFrameReady);
        EXPECT_EQ(window.m_link.m_nParserState, ParserWaitAck);
        EXPECT_TRUE(window.m_messages.empty());
        window.HoldTimersOn(1, false);
        EXPECT_LT(CpuOverQuietSecond(rig.Loop()), kQuietCpuLimit);
        EXPECT_EQ(window.m_errors.Errors().size(), 1U);

        window.Link().OnClosePort();
        SimBehaviour quick;
        quick.m_nAckWaitMs = 100;
        SimDevice* pDevice = rig.AddDevice(2, quick);
        ASSERT_NE(pDevice, nullptr);
        const auto pGaveUp = WatchForGivingUp(*pDevice);
        ASSERT_TRUE(rig.Connect());
        // COM1's line is dead: it cannot be opened, or it is silent; either way
        // the search goes on to COM2.
        EXPECT_EQ(window.Engine().OpenedPorts().back(), 2U);
        // Connecting sent the probe and nothing else.
        rig.Loop().RunFor(300ms);
        EXPECT_EQ(pDevice->ExchangeCount(), 0U);
        EXPECT_FALSE(pGaveUp->load());

        const std::size_t nBefore = window.m_messages.size();
        window.Link().OnMake();
        ASSERT_TRUE(rig.RunUntil([&] { return window.m_messages.size() > nBefore; }, 10s));
        EXPECT_EQ(window.m_messages.back().m_strText, kMsgSuccess);
        EXPECT_EQ(pDevice->ExchangeCount(), 1U);
        window.Link().OnClosePort();
    }
    ExpectNothingLeft();
}

// A port that another program holds (locked, as the engine locks its own)
// is skipped without a box, and taken once it has been let go.
TEST_F(FaultTest, PortHeldByAnotherProgramOrEngineIsSkipped)
{
    {
        E2eRig rig;
        PtyPair* pHeld = rig.AddSilentPort(1);
        ASSERT_NE(pHeld, nullptr);
        SimDevice* pDevice = rig.AddDevice(3);
        ASSERT_NE(pDevice, nullptr);
        PtyPair* pOther = rig.AddSilentPort(2);
        ASSERT_NE(pOther, nullptr);
        E2eWindow& window = rig.Window();

        // COM1: another program has it open and locked.
        UniqueFd hHolder(::open(pHeld->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        ASSERT_TRUE(hHolder.IsOpen());
        ASSERT_EQ(::flock(hHolder.Get(), LOCK_EX | LOCK_NB), 0);
        // COM2: a second engine of this very program has it.
        EventLoop otherLoop;
        SerialOwnerChannel otherOwner(otherLoop, [](const SerialNotification&) {});
        SerialPort otherEngine;
        PortTable otherTable;
        otherTable.SetPath(2, pOther->SlavePath());
        otherEngine.SetPortTable(otherTable);
        ASSERT_TRUE(otherEngine.Initialise(&otherOwner, 2, 9600, 'N', 8, 1, EV_RXCHAR, 512));

        ASSERT_TRUE(rig.Connect());
        EXPECT_EQ(window.Engine().OpenedPorts(), (std::vector<unsigned>{3}));
        const std::vector<EngineCall> inits = window.Engine().Calls(EngineCall::Kind::Initialise);
        ASSERT_EQ(inits.size(), 3U);
        EXPECT_FALSE(inits[0].m_bResult);
        EXPECT_FALSE(inits[1].m_bResult);
        EXPECT_TRUE(window.m_errors.Errors().empty());
        EXPECT_TRUE(window.m_messages.empty());

        // Let both go: the next search opens COM1 again (silent), then COM2.
        window.Link().OnClosePort();
        hHolder.Reset();
        EXPECT_TRUE(otherEngine.Close());
        window.Engine().ClearCalls();
        ASSERT_TRUE(rig.Connect());
        EXPECT_EQ(window.Engine().OpenedPorts(), (std::vector<unsigned>{1, 2, 3}));
        window.Link().OnClosePort();
    }
    ExpectNothingLeft();
}

// Result codes of the unprivileged child below.
enum ChildResult : int {
    ChildOk = 0,
    ChildCannotDrop = 10,
    ChildNoLine = 11,
    ChildNotConnected = 12,
    ChildWrongPorts = 13,
    ChildNoTrace = 14,
    ChildBoxShown = 15,
    ChildOpenedDenied = 16,
};

// Runs in a forked child: drops to nobody (when root), then searches with the
// denied port behind COM1 and a device of its own behind COM2.
int SearchPastDeniedPort(const std::string& deniedPath, int hReport)
{
    if (::geteuid() == 0) {
        const gid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(65534) != 0) {
            return ChildCannotDrop;
        }
    }
    // Root would pass the permission check, so make sure it is gone.
    if (::access(deniedPath.c_str(), R_OK | W_OK) == 0) {
        return ChildOpenedDenied;
    }
    TraceLog traces;
    std::optional<PtyPair> deviceLine = PtyPair::Open();
    if (!deviceLine) {
        return ChildNoLine;
    }
    int nResult = ChildOk;
    {
        SimDevice device(deviceLine->MasterFd(), SimBehaviour{});
        if (!device.Start()) {
            return ChildNoLine;
        }
        EventLoop loop;
        E2eWindow window(loop);
        PortTable table;
        table.SetPath(1, deniedPath);
        table.SetPath(2, deviceLine->SlavePath());
        window.UsePortTable(table);
        window.HoldTimersOn(2);
        window.Link().OnOpenPort();
        if (!loop.RunUntil([&] { return window.m_bPortOpen; }, 10s)) {
            nResult = ChildNotConnected;
        } else if (window.Engine().OpenedPorts() != std::vector<unsigned>{2}) {
            nResult = ChildWrongPorts;
        } else if (!window.m_errors.Errors().empty() || !window.m_messages.empty()) {
            nResult = ChildBoxShown;
        }
        window.Link().OnClosePort();
    }
    const std::vector<std::string> lines = traces.Containing(deniedPath);
    for (const std::string& line : lines) {
        [[maybe_unused]] const ssize_t n = ::write(hReport, line.data(), line.size());
    }
    if (nResult == ChildOk && lines.empty()) {
        nResult = ChildNoTrace;
    }
    return nResult;
}

TEST_F(FaultTest, PortWithoutPermissionIsSkippedAndTraced)
{
    {
        std::optional<PtyPair> denied = PtyPair::Open();
        ASSERT_TRUE(denied);
        // Owned by this (root) user, for nobody else.
        ASSERT_EQ(::chmod(denied->SlavePath().c_str(), ::geteuid() == 0 ? 0600 : 0000), 0);

        std::array<int, 2> report{-1, -1};
        ASSERT_EQ(::pipe2(report.data(), O_CLOEXEC), 0);
        UniqueFd hRead(report[0]);
        UniqueFd hWrite(report[1]);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            hRead.Reset();
            const int nCode = SearchPastDeniedPort(denied->SlavePath(), hWrite.Get());
            ::_exit(nCode);
        }
        hWrite.Reset();
        std::string reported;
        std::array<char, 512> chunk{};
        for (;;) {
            pollfd pfd{hRead.Get(), POLLIN, 0};
            if (::poll(&pfd, 1, 30000) <= 0) {
                break;
            }
            const ssize_t n = ::read(hRead.Get(), chunk.data(), chunk.size());
            if (n <= 0) {
                break;
            }
            reported.append(chunk.data(), static_cast<std::size_t>(n));
        }
        int nStatus = 0;
        ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
        ASSERT_TRUE(WIFEXITED(nStatus)) << "child ended abnormally, status " << nStatus;
        EXPECT_EQ(WEXITSTATUS(nStatus), ChildOk) << "trace: " << reported;
        EXPECT_NE(reported.find("Permission denied"), std::string::npos) << reported;
    }
    ExpectNothingLeft();
}

// Writes `nTotal` random bytes into the line as fast as it takes them, and
// reads (and counts) whatever the system writes back meanwhile.
class Flooder {
public:
    Flooder(int hMaster, std::size_t nTotal) : m_hMaster(hMaster), m_nTotal(nTotal)
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~Flooder()
    {
        m_bStop.store(true);
        m_thread.join();
    }
    Flooder(const Flooder&) = delete;
    Flooder& operator=(const Flooder&) = delete;

    bool Done() const { return m_bDone.load(); }
    std::size_t Written() const { return m_nWritten.load(); }
    std::size_t ReadBack() const { return m_nReadBack.load(); }

private:
    void Run()
    {
        std::mt19937 random(20261207);
        std::array<std::uint8_t, 4096> chunk{};
        std::size_t nFill = 0;  // bytes of `chunk` not yet written
        std::size_t nOffset = 0;
        while (!m_bStop.load()) {
            const bool bMore = m_nWritten.load() < m_nTotal;
            if (!bMore) {
                m_bDone.store(true);
            }
            pollfd pfd{m_hMaster, static_cast<short>(POLLIN | (bMore ? POLLOUT : 0)), 0};
            if (::poll(&pfd, 1, 50) <= 0) {
                continue;
            }
            if ((pfd.revents & POLLIN) != 0) {
                std::array<std::uint8_t, 256> back{};
                const ssize_t n = ::read(m_hMaster, back.data(), back.size());
                if (n > 0) {
                    m_nReadBack += static_cast<std::size_t>(n);
                }
            }
            if (bMore && (pfd.revents & POLLOUT) != 0) {
                if (nFill == 0) {
                    nFill = std::min(chunk.size(), m_nTotal - m_nWritten.load());
                    nOffset = 0;
                    std::generate_n(chunk.begin(), nFill, [&] { return static_cast<std::uint8_t>(random()); });
                }
                const ssize_t n = ::write(m_hMaster, chunk.data() + nOffset, nFill);
                if (n > 0) {
                    nOffset += static_cast<std::size_t>(n);
                    nFill -= static_cast<std::size_t>(n);
                    m_nWritten += static_cast<std::size_t>(n);
                }
            }
            if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                break;
            }
        }
        m_bDone.store(true);
    }

    int m_hMaster;
    std::size_t m_nTotal;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bDone{false};
    std::atomic<std::size_t> m_nWritten{0};
    std::atomic<std::size_t> m_nReadBack{0};
    std::thread m_thread;
};

// A flood of noise from the device: every byte is handled in turn, memory
// stays flat, the window's own timers keep running, and closing works.
TEST_F(FaultTest, FloodOfNoiseKeepsMemoryBoundedAndTheWindowAnswering)
{
    // Each byte is one synchronous hand-over to the window's thread, two
    // context switches that cost tens of microseconds on a loaded machine:
    // a quarter of a mebibyte takes a few seconds (a mebibyte took a minute
    // on a slow one). The sanitizer builds, many times slower at that, look
    // for memory and thread faults with a quarter of that again.
    constexpr std::size_t kFlood = kSanitizedAllocator ? (1U << 16U) : (1U << 18U);
    {
        E2eRig rig;
        PtyPair* pLine = rig.AddSilentPort(1);
        ASSERT_NE(pLine, nullptr);
        E2eWindow& window = rig.Window();
        ASSERT_TRUE(rig.ConnectByHand(1, 10s));

        // A window timer of its own (an id the link does not use) shows
        // whether the window's thread gets round to other work.
        constexpr int kTickId = 7;
        constexpr int kTickMs = 20;
        // It also samples resident memory.
        std::vector<Clock::time_point> ticks;
        ticks.reserve(100000);
        const long nRssBefore = ResidentKiB();
        long nRssPeak = nRssBefore;
        rig.Loop().StartTimer(kTickId, kTickMs, [&] {
            ticks.push_back(Clock::now());
            nRssPeak = std::max(nRssPeak, ResidentKiB());
        });

        const std::size_t nReceivedBefore = window.m_nBytesReceived;
        const auto start = Clock::now();
        {
            Flooder flooder(pLine->MasterFd(), kFlood);
            ASSERT_TRUE(rig.RunUntil([&] { return flooder.Done(); }, 120s))
                << "only " << flooder.Written() << " bytes went in";
            EXPECT_EQ(flooder.Written(), kFlood);
            // Whatever is still queued is delivered before the line falls quiet.
            std::size_t nLast = 0;
            do {
                nLast = window.m_nBytesReceived;
                rig.Loop().RunFor(200ms);
            } while (window.m_nBytesReceived != nLast);
            const auto floodTime = Clock::now() - start;
            rig.Loop().StopTimer(kTickId);
            RecordProperty("flood_ms",
                           static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(floodTime).count()));

            // Bytes are lost only to the purge before each of the system's own
            // writes (its ACKs to STX bytes in the noise), which reset the queue.
            const std::size_t nReceived = window.m_nBytesReceived - nReceivedBefore;
            EXPECT_GT(nReceived, kFlood / 4) << "most of the noise was never delivered";
            EXPECT_LE(nReceived, kFlood);
            EXPECT_GT(flooder.ReadBack(), 0U) << "the noise held STX bytes; none was acknowledged";

            // The timer kept firing: no gap of more than a second while the
            // flood was delivered (a window that answers only after the
            // flood would show one gap as long as the flood).
            ASSERT_GE(ticks.size(), 2U);
            Clock::duration longestGap{};
            for (std::size_t n = 1; n < ticks.size(); ++n) {
                longestGap = std::max(longestGap, ticks[n] - ticks[n - 1]);
            }
            EXPECT_LT(longestGap, 1s) << "flood took "
                                      << std::chrono::duration_cast<std::chrono::milliseconds>(floodTime).count()
                                      << " ms, " << ticks.size() << " ticks";
        }
        if (!kSanitizedAllocator) {
            // A byte costs nothing that stays: the flood leaves less than a
            // byte a byte behind (this test's engine records every ACK sent
            // to an STX in the noise; that grows with the flood, to about
            // half the limit).
            constexpr long kLimitKiB = static_cast<long>(kFlood / 1024U);
            EXPECT_LT(nRssPeak - nRssBefore, kLimitKiB) << "KiB of resident memory grew with the noise";
        }
        EXPECT_TRUE(window.m_errors.Errors().empty());

        EXPECT_LT(CpuOverQuietSecond(rig.Loop()), kQuietCpuLimit);
        window.Link().OnClosePort();
        EXPECT_FALSE(window.m_bPortOpen);
    }
    ExpectNothingLeft();
}

// Opening and closing a thousand times leaves nothing behind.
TEST_F(FaultTest, ThousandOpenCloseCyclesLeaveNoDescriptorOrThread)
{
    constexpr int kCycles = 1000;
    {
        E2eRig rig;
        SimDevice* pDevice = rig.AddDevice(1);
        ASSERT_NE(pDevice, nullptr);
        E2eWindow& window = rig.Window();
        // Counted with the rig up. The engine makes its wake-up descriptors
        // once and keeps them; a closed port's descriptor is let go when its
        // thread has been joined, at the next Initialise. So the first cycle
        // sets the level, and the other 999 must not raise it.
        const int nThreads = ThreadCount();
        ASSERT_TRUE(rig.Connect());
        window.Link().OnClosePort();
        rig.Loop().RunFor(200ms);  // notifications still queued go first
        const int nFds = OpenFdCount();
        int nMaxFds = nFds;
        int nMaxThreads = nThreads;
        for (int cycle = 1; cycle < kCycles; ++cycle) {
            ASSERT_TRUE(rig.Connect()) << "cycle " << cycle;
            nMaxFds = std::max(nMaxFds, OpenFdCount());
            // The last cycle's thread has been joined, but the system may
            // list it for a moment after the join returns: what counts is
            // a thread that stays.
            RunUntilPolled(
                rig.Loop(), [&] { return ThreadCount() <= nThreads + 1; }, 1s);
            nMaxThreads = std::max(nMaxThreads, ThreadCount());
            window.Link().OnClosePort();
            ASSERT_FALSE(window.m_bPortOpen);
        }
        // The monitoring thread ends on its own after Close, and queued
        // notifications drain; give both a moment.
        RunUntilPolled(
            rig.Loop(), [&] { return ThreadCount() == nThreads && OpenFdCount() == nFds; }, 5s);
        EXPECT_EQ(OpenFdCount(), nFds);
        EXPECT_EQ(ThreadCount(), nThreads);
        // While open: the port's descriptor on top, and one thread.
        EXPECT_LE(nMaxFds - nFds, 1);
        EXPECT_LE(nMaxThreads - nThreads, 1);
        EXPECT_EQ(pDevice->ProbesAnswered(), static_cast<std::size_t>(kCycles));
        EXPECT_EQ(window.m_connectedAt.size(), static_cast<std::size_t>(kCycles));
        // How long the device took to answer a probe at worst (the probe
        // timers are held here, so this is a measurement, not a condition):
        // what a search with its real 100 ms wait would have had to allow.
        const std::vector<EngineCall> probes = window.Engine().Sends();
        if (probes.size() == window.m_connectedAt.size()) {
            std::chrono::milliseconds slowest{0};
            for (std::size_t n = 0; n < probes.size(); ++n) {
                slowest = std::max(slowest, e2e::MsBetween(probes[n].m_at, window.m_connectedAt[n]));
            }
            RecordProperty("slowest_probe_answer_ms", static_cast<int>(slowest.count()));
        }
        EXPECT_TRUE(window.m_errors.Errors().empty());
        EXPECT_TRUE(window.m_messages.empty());
        EXPECT_LT(CpuOverQuietSecond(rig.Loop()), kQuietCpuLimit);
    }
    ExpectNothingLeft();
}

}  // namespace
}  // namespace varnis::faults
