// The figures of the performance table, each against the limit it is held to:
//  1. one "Make Provin" exchange over a pseudo-terminal with the simulated
//     device at zero delays (the software's own time), against the wire time
//     of the same 35 bytes at 9600 baud;
//  2. the search with the device on COM10 behind nine silent ports, against
//     its floor of nine unanswered 100 ms probes;
//  3. the cost of delivering one received byte to the window's thread under
//     a flood, against the time one byte takes on the wire at 9600 baud;
//  4. start-up of the desktop tool (bin/varnis, offscreen) from fork to its
//     first shown window, and its peak resident memory.
// Prints one Markdown table row a figure on standard output; how each was
// measured goes to standard error. The idle window's CPU time is measured by
// varnis_bench_window (scripts/bench runs both).
//
// Usage: varnis_bench [--exchanges N] [--searches N] [--starts N]
//                     [--flood-kib N] [--app PATH] [--preload PATH]
#include "e2e/E2eHarness.h"
#include "serial/Text.h"
#include "platform/posix/UniqueFd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace varnis;
using namespace varnis::e2e;
using namespace std::chrono_literals;

using Millis = std::chrono::duration<double, std::milli>;

// STX, ACK, the 26-byte frame, the device's STX, ACK, the 5-byte reply.
constexpr int kExchangeBytes = 1 + 1 + static_cast<int>(kConfigurationFrameSize) + 1 + 1 + 5;
constexpr double kBitsPerByte = 10.0;  // start, 8 data, stop
constexpr double kBaud = 9600.0;
constexpr double kWireMs = kExchangeBytes * kBitsPerByte * 1000.0 / kBaud;
constexpr double kSearchFloorMs = 9.0 * kProbeTimerMs;
constexpr double kStartLimitMs = 1000.0;
constexpr double kMemoryLimitMiB = 100.0;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

void Row(const char* figure, const std::string& measured, const std::string& limit, double ratio)
{
    std::printf("| %s | %s | %s | %.3f |\n", figure, measured.c_str(), limit.c_str(), ratio);
    std::fflush(stdout);
}

std::string Ms(double value, int nDecimals = 1)
{
    return FormatText("%.*f ms", nDecimals, value);
}

bool MeasureExchanges(int nRuns, std::vector<double>& times)
{
    E2eRig rig;
    SimDevice* pDevice = rig.AddDevice(1);  // no delays
    if (pDevice == nullptr || !rig.Connect(10s)) {
        std::fprintf(stderr, "cannot connect to the simulated device\n");
        return false;
    }
    E2eWindow& window = rig.Window();
    for (int run = 0; run < nRuns; ++run) {
        const std::size_t nBefore = window.m_messages.size();
        const auto t0 = Clock::now();
        window.Link().OnMake();
        if (!rig.RunUntil([&] { return window.m_messages.size() > nBefore; }, 10s) ||
            window.m_messages.back().m_strText != kMsgSuccess) {
            std::fprintf(stderr, "exchange %d did not succeed\n", run + 1);
            return false;
        }
        times.push_back(Millis(window.m_messages.back().m_at - t0).count());
    }
    if (pDevice->ExchangeCount() != static_cast<std::size_t>(nRuns)) {
        std::fprintf(stderr, "the device saw %zu frames, expected %d\n", pDevice->ExchangeCount(), nRuns);
        return false;
    }
    return true;
}

bool MeasureSearches(int nRuns, std::vector<double>& times)
{
    for (int run = 0; run < nRuns; ++run) {
        E2eRig rig;
        for (unsigned port = 1; port <= 9; ++port) {
            if (rig.AddSilentPort(port) == nullptr) {
                std::fprintf(stderr, "cannot open a pseudo-terminal\n");
                return false;
            }
        }
        if (rig.AddDevice(10) == nullptr) {
            std::fprintf(stderr, "cannot start the simulated device\n");
            return false;
        }
        const auto t0 = Clock::now();
        if (!rig.Connect(30s)) {
            std::fprintf(stderr, "search %d did not connect\n", run + 1);
            return false;
        }
        times.push_back(Millis(rig.Window().m_connectedAt.back() - t0).count());
    }
    return true;
}

// Bytes delivered one by one to the window's thread while the line is
// flooded with noise the reply reader ignores (no 0x06: nothing is answered,
// so no write purges the queue). Returns microseconds a byte, or a negative
// value on failure.
double MeasureDeliveryCost(std::size_t nBytes)
{
    E2eRig rig;
    PtyPair* pLine = rig.AddSilentPort(1);
    if (pLine == nullptr) {
        return -1;
    }
    E2eWindow& window = rig.Window();
    window.Link().OnOpenPort();
    if (rig.ReadLine(1, 1, 5s) != Bytes{kStx} || !rig.WriteLine(1, std::array<std::uint8_t, 1>{kAck}) ||
        !rig.RunUntil([&] { return window.m_bPortOpen; }, 10s)) {
        std::fprintf(stderr, "flood: no connection\n");
        return -1;
    }
    const std::size_t nBefore = window.m_nBytesReceived;
    std::atomic<bool> bWriterDone{false};
    const auto t0 = Clock::now();
    std::thread writer([&] {
        std::array<std::uint8_t, 4096> chunk{};
        for (std::size_t n = 0; n < chunk.size(); ++n) {
            chunk[n] = static_cast<std::uint8_t>(n % 256 == kAck ? 0 : n % 256);
        }
        std::size_t nLeft = nBytes;
        std::size_t nOffset = 0;
        while (nLeft > 0) {
            pollfd pfd{pLine->MasterFd(), POLLOUT, 0};
            if (::poll(&pfd, 1, 1000) <= 0) {
                break;
            }
            const std::size_t nWant = std::min(nLeft, chunk.size() - nOffset);
            const ssize_t n = ::write(pLine->MasterFd(), chunk.data() + nOffset, nWant);
            if (n > 0) {
                nLeft -= static_cast<std::size_t>(n);
                nOffset = (nOffset + static_cast<std::size_t>(n)) % chunk.size();
            }
        }
        bWriterDone.store(true);
    });
    const bool bAll = rig.RunUntil([&] { return window.m_nBytesReceived - nBefore >= nBytes; },
                                   std::chrono::seconds(60 + nBytes / 1000));
    const auto elapsed = Clock::now() - t0;
    writer.join();
    const std::size_t nDelivered = window.m_nBytesReceived - nBefore;
    window.Link().OnClosePort();
    if (!bAll || nDelivered == 0) {
        std::fprintf(stderr, "flood: %zu of %zu bytes delivered\n", nDelivered, nBytes);
        return -1;
    }
    const double usPerByte = std::chrono::duration<double, std::micro>(elapsed).count() /
                             static_cast<double>(nDelivered);
    std::fprintf(stderr, "flood of %zu noise bytes: all delivered in %.0f ms, %.1f us a byte (%.0f bytes/s)\n",
                 nDelivered, std::chrono::duration<double, std::milli>(elapsed).count(), usPerByte, 1e6 / usPerByte);
    return usPerByte;
}

long long MonotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

struct StartFigures {
    double m_dShownMs = 0;
    double m_dPeakMiB = 0;
};

// One start of the tool: fork, exec under offscreen with the preload library,
// wait for its "shown" line, let it settle, end it and collect its peak RSS.
std::optional<StartFigures> MeasureOneStart(const std::string& app, const std::string& preload)
{
    std::array<int, 2> pipeFds{-1, -1};
    if (::pipe2(pipeFds.data(), O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    UniqueFd hRead(pipeFds[0]);
    UniqueFd hWrite(pipeFds[1]);
    const long long t0 = MonotonicNs();
    const pid_t pid = ::fork();
    if (pid < 0) {
        return std::nullopt;
    }
    if (pid == 0) {
        // The child: the write end survives exec, everything else as usual.
        const int hChildWrite = ::dup(hWrite.Get());
        const int hNull = ::open("/dev/null", O_WRONLY);
        if (hChildWrite < 0 || hNull < 0) {
            ::_exit(126);
        }
        ::dup2(hNull, STDOUT_FILENO);
        ::dup2(hNull, STDERR_FILENO);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("LD_PRELOAD", preload.c_str(), 1);
        ::setenv("VARNIS_BENCH_SHOWN_FD", std::to_string(hChildWrite).c_str(), 1);
        ::execl(app.c_str(), app.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    hWrite.Reset();

    std::string line;
    const auto deadline = Clock::now() + 20s;
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd pfd{hRead.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, 200) <= 0) {
            continue;
        }
        std::array<char, 64> buf{};
        const ssize_t n = ::read(hRead.Get(), buf.data(), buf.size());
        if (n <= 0) {
            break;  // the program ended (or never started)
        }
        line.append(buf.data(), static_cast<std::size_t>(n));
    }
    std::optional<StartFigures> figures;
    long long shownNs = 0;
    if (std::sscanf(line.c_str(), "shown %lld", &shownNs) == 1) {
        figures = StartFigures{static_cast<double>(shownNs - t0) / 1e6, 0};
        // Idle a moment after showing: the peak covers start-up and settling.
        ::usleep(500 * 1000);
    }
    ::kill(pid, SIGTERM);
    int nStatus = 0;
    rusage usage{};
    if (::wait4(pid, &nStatus, 0, &usage) != pid) {
        return std::nullopt;
    }
    if (figures) {
        figures->m_dPeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
    } else {
        std::fprintf(stderr, "%s showed no window (status %d, read \"%s\")\n", app.c_str(), nStatus, line.c_str());
    }
    return figures;
}

std::string SiblingPath(const std::string& relative)
{
    std::array<char, 4096> self{};
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (n <= 0) {
        return relative;
    }
    std::string dir(self.data(), static_cast<std::size_t>(n));
    dir.erase(dir.find_last_of('/'));
    return dir + "/" + relative;
}

struct Options {
    int m_nExchanges = 50;
    int m_nSearches = 3;
    int m_nStarts = 5;
    int m_nFloodKiB = 64;
    std::string m_strApp = SiblingPath("varnis");
    std::string m_strPreload = SiblingPath("../lib/varnis_bench_shown.so");
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int n = 1; n < argc; ++n) {
        const std::string_view arg = argv[n];
        if (n + 1 >= argc) {
            return false;
        }
        const char* value = argv[++n];
        if (arg == "--exchanges") {
            options.m_nExchanges = std::max(1, std::atoi(value));
        } else if (arg == "--searches") {
            options.m_nSearches = std::max(1, std::atoi(value));
        } else if (arg == "--starts") {
            options.m_nStarts = std::max(1, std::atoi(value));
        } else if (arg == "--flood-kib") {
            options.m_nFloodKiB = std::max(1, std::atoi(value));
        } else if (arg == "--app") {
            options.m_strApp = value;
        } else if (arg == "--preload") {
            options.m_strPreload = value;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: varnis_bench [--exchanges N] [--searches N] [--starts N] [--flood-kib N] "
                     "[--app PATH] [--preload PATH]\n");
        return 2;
    }
    // The engine's trace lines would only drown the figures.
    SetTraceSink([](std::string_view) {});
    bool bAllOk = true;

    // Start-up first, while this process has no threads of its own.
    std::vector<double> starts;
    std::vector<double> peaks;
    for (int run = 0; run < options.m_nStarts; ++run) {
        const std::optional<StartFigures> figures = MeasureOneStart(options.m_strApp, options.m_strPreload);
        if (!figures) {
            break;
        }
        starts.push_back(figures->m_dShownMs);
        peaks.push_back(figures->m_dPeakMiB);
    }
    if (starts.size() == static_cast<std::size_t>(options.m_nStarts)) {
        std::fprintf(stderr,
                     "start-up of %s to its first shown window (offscreen, %d runs): median %.1f ms, "
                     "first %.1f ms, max %.1f ms; peak RSS median %.1f MiB, max %.1f MiB\n",
                     options.m_strApp.c_str(), options.m_nStarts, Median(starts), starts.front(),
                     *std::max_element(starts.begin(), starts.end()), Median(peaks),
                     *std::max_element(peaks.begin(), peaks.end()));
        const double startMs = Median(starts);
        Row("Start-up of bin/varnis to its first shown window (offscreen, median)", Ms(startMs), Ms(kStartLimitMs, 0),
            startMs / kStartLimitMs);
        const double peakMiB = *std::max_element(peaks.begin(), peaks.end());
        Row("Peak resident memory of bin/varnis (ru_maxrss, max of runs)", FormatText("%.1f MiB", peakMiB),
            FormatText("%.0f MiB", kMemoryLimitMiB), peakMiB / kMemoryLimitMiB);
    } else {
        std::fprintf(stderr, "start-up not measured (app %s, preload %s)\n", options.m_strApp.c_str(),
                     options.m_strPreload.c_str());
        bAllOk = false;
    }

    std::vector<double> exchanges;
    if (MeasureExchanges(options.m_nExchanges, exchanges)) {
        const double median = Median(exchanges);
        std::fprintf(stderr,
                     "\"Make Provin\" exchange, no device delays (%d runs, %d bytes): median %.3f ms, "
                     "min %.3f ms, max %.3f ms; wire time at 9600 baud %.1f ms\n",
                     options.m_nExchanges, kExchangeBytes, median,
                     *std::min_element(exchanges.begin(), exchanges.end()),
                     *std::max_element(exchanges.begin(), exchanges.end()), kWireMs);
        Row("\"Make Provin\" exchange, software's own time (zero device delays, median)", Ms(median, 3),
            Ms(kWireMs) + " wire time (35 bytes at 9600 baud)", median / kWireMs);
    } else {
        bAllOk = false;
    }

    std::vector<double> searches;
    if (MeasureSearches(options.m_nSearches, searches)) {
        const double median = Median(searches);
        std::fprintf(stderr, "search with the device on COM10 (%d runs): median %.1f ms, min %.1f, max %.1f\n",
                     options.m_nSearches, median, *std::min_element(searches.begin(), searches.end()),
                     *std::max_element(searches.begin(), searches.end()));
        Row("Search, device on COM10 behind 9 silent ports (median)", Ms(median),
            Ms(kSearchFloorMs, 0) + " floor (9 probes x 100 ms)", median / kSearchFloorMs);
    } else {
        bAllOk = false;
    }
    const double usPerByte = MeasureDeliveryCost(static_cast<std::size_t>(options.m_nFloodKiB) * 1024U);
    if (usPerByte > 0) {
        constexpr double kWireUsPerByte = kBitsPerByte * 1e6 / kBaud;
        Row(FormatText("Received byte, delivery to the window under a flood (%d KiB of noise)", options.m_nFloodKiB)
                .c_str(),
            FormatText("%.1f us", usPerByte), FormatText("%.0f us wire time a byte", kWireUsPerByte),
            usPerByte / kWireUsPerByte);
    } else {
        bAllOk = false;
    }
    return bAllOk ? 0 : 1;
}
