// Figures of the device link over pseudo-terminals with the simulated device:
//  1. the search with the device on COM10 behind nine silent ports, against
//     its floor of nine unanswered 100 ms probes;
//  2. one full "Make Provin" exchange with no device delays (the software's
//     own cost), per exchange and per byte, against the wire time of the
//     same 35 bytes at 9600 baud.
// Usage: link_bench [searches] [exchanges]
#include "e2e/E2eHarness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
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

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double Mean(const std::vector<double>& values)
{
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

int ArgOr(int argc, char** argv, int nIndex, int nDefault)
{
    if (argc > nIndex) {
        const int n = std::atoi(argv[nIndex]);
        if (n > 0) {
            return n;
        }
    }
    return nDefault;
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

}  // namespace

int main(int argc, char** argv)
{
    const int nSearches = ArgOr(argc, argv, 1, 3);
    const int nExchanges = ArgOr(argc, argv, 2, 50);
    // The engine's trace lines would only drown the figures.
    SetTraceSink([](std::string_view) {});

    std::vector<double> searches;
    if (!MeasureSearches(nSearches, searches)) {
        return 1;
    }
    std::vector<double> exchanges;
    if (!MeasureExchanges(nExchanges, exchanges)) {
        return 1;
    }

    const double searchMedian = Median(searches);
    std::printf("search, device on COM10 behind 9 silent ports (%d runs)\n", nSearches);
    std::printf("  median %.1f ms, min %.1f ms, max %.1f ms\n", searchMedian,
                *std::min_element(searches.begin(), searches.end()),
                *std::max_element(searches.begin(), searches.end()));
    std::printf("  floor 9 x %d ms = %.0f ms; ratio %.3f; above the floor %.1f ms (%.2f ms a port)\n",
                kProbeTimerMs, kSearchFloorMs, searchMedian / kSearchFloorMs, searchMedian - kSearchFloorMs,
                (searchMedian - kSearchFloorMs) / 10.0);

    const double exchangeMedian = Median(exchanges);
    std::printf("\"Make Provin\" exchange, no device delays (%d runs, %d bytes each)\n", nExchanges,
                kExchangeBytes);
    std::printf("  median %.3f ms, mean %.3f ms, min %.3f ms, max %.3f ms\n", exchangeMedian, Mean(exchanges),
                *std::min_element(exchanges.begin(), exchanges.end()),
                *std::max_element(exchanges.begin(), exchanges.end()));
    std::printf("  per byte %.1f us (median)\n", exchangeMedian * 1000.0 / kExchangeBytes);
    std::printf("  wire time at 9600 baud: %d bytes x 10 bits = %.1f ms; software / wire = %.4f\n",
                kExchangeBytes, kWireMs, exchangeMedian / kWireMs);
    return 0;
}
