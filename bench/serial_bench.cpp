// Serial engine figures over a pseudo-terminal pair, in one run:
//  - latency from a byte written at the far end to its SPN_RXCHAR handler on
//    the owner's thread (median and 99th percentile);
//  - notifications per second the engine sustains with the far end writing
//    as fast as it can, against a floor measured in the same run: the same
//    flood through the simplest correct synchronous hand-over (one reader
//    thread handing each byte to the owner with a mutex and a condition
//    variable, and waiting until it has been handled);
//  - process CPU time over 5 s of an idle, monitored port.
// Each figure is printed with its ratio to the limit that matters here: the
// 9600 baud line of the generator device.
#include "serial/EventLoop.h"
#include "platform/posix/UniqueFd.h"
#include "serial/OwnerThread.h"
#include "serial/Text.h"
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
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
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
constexpr int kThroughputRounds = 5;

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

// A raw pseudo-terminal pair: the far end (master, non-blocking) and the
// line a reader opens by its path.
struct RawPty {
    varnis::UniqueFd m_hMaster;
    varnis::UniqueFd m_hSlave;  // keeps the line up
    std::string m_path;

    static std::optional<RawPty> Open()
    {
        int hMaster = -1;
        int hSlave = -1;
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&hMaster, &hSlave, nullptr, &raw, nullptr) != 0) {
            return std::nullopt;
        }
        RawPty pty;
        pty.m_hMaster.Reset(hMaster);
        pty.m_hSlave.Reset(hSlave);
        pty.m_path = ::ttyname(hSlave);
        ::fcntl(hMaster, F_SETFL, ::fcntl(hMaster, F_GETFL) | O_NONBLOCK);
        return pty;
    }
};

std::thread Flood(int hMaster, int nBytes)
{
    return std::thread([hMaster, nBytes] {
        std::vector<std::uint8_t> chunk(256);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<std::uint8_t>(i);
        }
        for (int nSent = 0; nSent < nBytes; nSent += static_cast<int>(chunk.size())) {
            WriteAll(hMaster, chunk.data(),
                     std::min<std::size_t>(chunk.size(), static_cast<std::size_t>(nBytes - nSent)));
        }
    });
}

// The floor: one reader thread, one byte a read, each byte handed to the
// owner (this thread) under a mutex and waited for with a condition variable.
double FloorRate(int nBytes)
{
    std::optional<RawPty> pty = RawPty::Open();
    if (!pty) {
        return 0;
    }
    const varnis::UniqueFd hLine(::open(pty->m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    std::mutex mutex;
    std::condition_variable handedOver;
    std::condition_variable handled;
    std::optional<std::uint8_t> pending;
    long nReceived = 0;
    const auto start = Clock::now();
    std::thread reader([&] {
        for (int i = 0; i < nBytes; ++i) {
            std::uint8_t nByte = 0;
            if (::read(hLine.Get(), &nByte, 1) != 1) {
                break;
            }
            std::unique_lock lock(mutex);
            pending = nByte;
            handedOver.notify_one();
            handled.wait(lock, [&] { return !pending.has_value(); });
        }
    });
    std::thread flood = Flood(pty->m_hMaster.Get(), nBytes);
    while (nReceived < nBytes) {
        std::unique_lock lock(mutex);
        if (!handedOver.wait_for(lock, 10s, [&] { return pending.has_value(); })) {
            break;
        }
        ++nReceived;  // the handler
        pending.reset();
        handled.notify_one();
    }
    const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    flood.join();
    reader.join();
    return static_cast<double>(nReceived) / dSeconds;
}

// The engine: the same flood through a monitored port to a handler on an
// event loop on this thread.
double EngineRate(int nBytes)
{
    std::optional<RawPty> pty = RawPty::Open();
    if (!pty) {
        return 0;
    }
    varnis::PortTable table;
    table.SetPath(1, pty->m_path);
    varnis::EventLoop loop;
    long nReceived = 0;
    varnis::SerialOwnerChannel owner(
        loop, [&](const varnis::SerialNotification& n) { nReceived += n.m_nMessage == varnis::SPN_RXCHAR ? 1 : 0; });
    varnis::SerialPort port;
    port.SetPortTable(table);
    if (!port.Initialise(&owner, 1, 9600, 'N', 8, 1, varnis::EV_RXCHAR | varnis::EV_RXFLAG, 512) ||
        !port.StartMonitor()) {
        return 0;
    }
    const auto start = Clock::now();
    std::thread flood = Flood(pty->m_hMaster.Get(), nBytes);
    loop.RunUntil([&] { return nReceived >= nBytes; }, 300s);
    const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    flood.join();
    port.Close();
    return static_cast<double>(nReceived) / dSeconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
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
    varnis::SerialOwnerChannel owner(loop, [&](const varnis::SerialNotification& n) {
        if (n.m_nMessage != varnis::SPN_RXCHAR) {
            return;
        }
        const auto sentAt = Clock::time_point(Clock::duration(nSentAt.load()));
        latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sentAt).count());
        handled.Set();
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
            handled.Wait(5000);
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

    // 2. Throughput: the far end writes as fast as the line takes it; the
    // engine and the floor take turns, so both see the same machine.
    std::vector<double> engineRates;
    std::vector<double> floorRates;
    for (int nRound = 0; nRound < kThroughputRounds; ++nRound) {
        floorRates.push_back(FloorRate(kThroughputBytes));
        engineRates.push_back(EngineRate(kThroughputBytes));
    }
    const double dPerSecond = Median(engineRates);
    const double dFloorPerSecond = Median(floorRates);

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
    std::printf("  same flood, mutex+condvar floor  %8.0f /s   engine ratio %.2f to it (goal >= 0.9)\n",
                dFloorPerSecond, dFloorPerSecond > 0 ? dPerSecond / dFloorPerSecond : 0.0);
    std::printf("  process CPU over 5 s idle        %8.3f ms   ratio %.3f to %.0f ms\n", dIdleCpuMs,
                dIdleCpuMs / kIdleCpuLimitMs, kIdleCpuLimitMs);
    std::printf("  (%d latency samples; rates: median of %d rounds of %d bytes, engine and floor in turn)\n",
                static_cast<int>(latenciesMs.size()), kThroughputRounds, kThroughputBytes);
    return 0;
}
