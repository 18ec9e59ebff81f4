// Serial engine figures over a pseudo-terminal pair, in one run:
//  - latency from a byte written at the far end to its SPN_RXCHAR handler on
//    the owner's thread (median and 99th percentile);
//  - notifications per second the engine sustains with the far end writing
//    as fast as it can;
//  - process CPU time over 5 s of an idle, monitored port.
// Each figure is printed with its ratio to the limit that matters here: the
// 9600 baud line of the generator device.
#include "serial/EventLoop.h"
#include "serial/Fd.h"
#include "serial/OwnerThread.h"
#include "serial/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kByteTimeAt9600Ms = 10.0 / 9600.0 * 1000.0;  // start, 8 data, stop bit
constexpr double kLineRateBytesPerSecond = 960.0;
constexpr double kIdleCpuLimitMs = 10.0;
constexpr int kLatencySamples = 2000;
constexpr int kThroughputBytes = 50000;

double ProcessCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void WriteAll(int hFd, const std::uint8_t* pData, std::size_t nLength)
{
    while (nLength > 0) {
        const ssize_t nWritten = ::write(hFd, pData, nLength);
        if (nWritten > 0) {
            pData += nWritten;
            nLength -= static_cast<std::size_t>(nWritten);
            continue;
        }
        pollfd entry{hFd, POLLOUT, 0};
        ::poll(&entry, 1, 1000);
    }
}

// The engine's own trace lines are not figures: keep them out of the output.
void QuietTrace()
{
    varnis::SetTraceSink([](std::string_view) {});
}

}  // namespace

int main()
{
    QuietTrace();
    int hMasterRaw = -1;
    int hSlaveRaw = -1;
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&hMasterRaw, &hSlaveRaw, nullptr, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    const varnis::UniqueFd hMaster(hMasterRaw);
    const varnis::UniqueFd hSlave(hSlaveRaw);  // keeps the line up
    ::fcntl(hMaster.Get(), F_SETFL, ::fcntl(hMaster.Get(), F_GETFL) | O_NONBLOCK);

    varnis::PortTable table;
    table.SetPath(1, ::ttyname(hSlave.Get()));

    varnis::EventLoop loop;
    std::atomic<Clock::rep> nSentAt{0};
    varnis::EventFlag handled;
    handled.Create();
    std::vector<double> latenciesMs;
    latenciesMs.reserve(kLatencySamples);
    long nReceived = 0;
    bool bMeasureLatency = true;
    varnis::SerialOwnerChannel owner(loop, [&](const varnis::SerialNotification& n) {
        if (n.m_nMessage != varnis::SPN_RXCHAR) {
            return;
        }
        ++nReceived;
        if (bMeasureLatency) {
            const auto sentAt = Clock::time_point(Clock::duration(nSentAt.load()));
            latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sentAt).count());
            handled.Set();
        }
    });

    varnis::SerialPort port;
    port.SetPortTable(table);
    if (!port.Initialise(&owner, 1, 9600, 'N', 8, 1, varnis::EV_RXCHAR | varnis::EV_RXFLAG, 512) ||
        !port.StartMonitor()) {
        std::fprintf(stderr, "cannot open the engine on %s\n", table.PathOf(1).c_str());
        return 1;
    }

    // 1. Latency, one byte at a time.
    std::thread farEnd([&] {
        for (int i = 0; i < kLatencySamples; ++i) {
            handled.Reset();
            const auto byte = static_cast<std::uint8_t>(i);
            nSentAt.store(Clock::now().time_since_epoch().count());
            WriteAll(hMaster.Get(), &byte, 1);
            bool bUnused = false;
            varnis::WaitForFd(handled.Fd(), POLLIN, -1, 5000, &bUnused);
        }
    });
    loop.RunUntil([&] { return static_cast<int>(latenciesMs.size()) >= kLatencySamples; }, 120s);
    farEnd.join();
    std::sort(latenciesMs.begin(), latenciesMs.end());
    if (latenciesMs.empty()) {
        std::fprintf(stderr, "no byte arrived\n");
        return 1;
    }
    const double dMedian = latenciesMs[latenciesMs.size() / 2];
    const double dP99 = latenciesMs[std::min(latenciesMs.size() - 1, latenciesMs.size() * 99 / 100)];

    // 2. Throughput: the far end writes as fast as the line takes it.
    bMeasureLatency = false;
    nReceived = 0;
    const auto throughputStart = Clock::now();
    std::thread flood([&] {
        std::vector<std::uint8_t> chunk(256);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<std::uint8_t>(i);
        }
        for (int nSent = 0; nSent < kThroughputBytes; nSent += static_cast<int>(chunk.size())) {
            WriteAll(hMaster.Get(), chunk.data(), std::min<std::size_t>(chunk.size(), kThroughputBytes - nSent));
        }
    });
    loop.RunUntil([&] { return nReceived >= kThroughputBytes; }, 300s);
    const double dSeconds = std::chrono::duration<double>(Clock::now() - throughputStart).count();
    flood.join();
    const double dPerSecond = static_cast<double>(nReceived) / dSeconds;

    // 3. Idle: a monitored port with nothing on the line, the owner's loop idle too.
    loop.RunFor(200ms);
    const double dCpuBefore = ProcessCpuMs();
    loop.RunFor(5000ms);
    const double dIdleCpuMs = ProcessCpuMs() - dCpuBefore;

    port.Close();

    std::printf("serial_bench: engine over a pseudo-terminal pair\n");
    std::printf("  byte-to-handler latency median   %8.3f ms   ratio %.3f to %.2f ms (one byte at 9600 baud)\n",
                dMedian, dMedian / kByteTimeAt9600Ms, kByteTimeAt9600Ms);
    std::printf("  byte-to-handler latency p99      %8.3f ms   ratio %.3f to %.2f ms (one byte at 9600 baud)\n", dP99,
                dP99 / kByteTimeAt9600Ms, kByteTimeAt9600Ms);
    std::printf("  sustained notifications          %8.0f /s   ratio %.1f to %.0f bytes/s (9600 baud line rate)\n",
                dPerSecond, dPerSecond / kLineRateBytesPerSecond, kLineRateBytesPerSecond);
    std::printf("  process CPU over 5 s idle        %8.3f ms   ratio %.3f to %.0f ms\n", dIdleCpuMs,
                dIdleCpuMs / kIdleCpuLimitMs, kIdleCpuLimitMs);
    std::printf("  (%d latency samples, %ld bytes in %.2f s for the rate)\n", static_cast<int>(latenciesMs.size()),
                nReceived, dSeconds);
    return 0;
}
