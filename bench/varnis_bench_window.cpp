// The CPU time of an idle, connected main window: the real VarnisDlg under
// the offscreen platform, connected to the simulated device (in this process,
// on a pseudo-terminal), then left alone while the Qt event loop runs.
// Prints one Markdown table row on standard output; details on standard error.
//
// Usage: varnis_bench_window [SECONDS]   (default 10)
#include "serial/PortTable.h"
#include "serial/SerialNotify.h"
#include "sim/SimDevice.h"
#include "ui/qt/MessageBoxes.h"
#include "ui/qt/VarnisDlg.h"
#include "ui/qt/VarnisDlgProbe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr double kIdleLimitMs = 10.0;

// Boxes nobody answers: recorded, OK.
class RecordedBoxes : public varnis::IMessageBoxes {
public:
    void Message(QWidget*, const QString& text, const QString&) override { m_texts.push_back(text.toStdString()); }
    void Error(const QString& text, const QString&) override { m_texts.push_back(text.toStdString()); }
    bool Confirm(QWidget*, const QString& text, const QString&) override
    {
        m_texts.push_back(text.toStdString());
        return true;
    }
    std::vector<std::string> m_texts;
};

double ProcessCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Runs the Qt event loop until `done` or `nLimitMs`; true if done.
template <typename Done>
bool RunUntil(Done done, int nLimitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < nLimitMs) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

}  // namespace

int main(int argc, char** argv)
{
    const int nSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    varnis::SetTraceSink([](std::string_view) {});
    QApplication app(argc, argv);

    std::optional<varnis::PtyPair> line = varnis::PtyPair::Open();
    if (!line) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    varnis::SimDevice device(line->MasterFd(), varnis::SimBehaviour{});
    if (!device.Start()) {
        std::fprintf(stderr, "the simulated device did not start\n");
        return 1;
    }
    varnis::PortTable table;
    table.SetPath(1, line->SlavePath());

    RecordedBoxes boxes;
    int nCode = 0;
    {
        varnis::VarnisDlg dlg;
        dlg.SetPortTable(table);
        dlg.SetMessageBoxes(&boxes);
        dlg.show();
        varnis::VarnisDlgProbe(dlg).Command(varnis::kIdOpenPort);
        if (!RunUntil([&] { return varnis::VarnisDlgProbe(dlg).IsPortOpen(); }, 10000)) {
            std::fprintf(stderr, "the window did not connect\n");
            return 1;
        }
        // Let the connected state paint and settle before measuring.
        RunUntil([] { return false; }, 500);

        const double cpu0 = ProcessCpuMs();
        QEventLoop idle;
        QTimer::singleShot(nSeconds * 1000, &idle, &QEventLoop::quit);
        idle.exec();
        const double cpuMs = ProcessCpuMs() - cpu0;

        const bool bStillConnected = varnis::VarnisDlgProbe(dlg).IsPortOpen() && boxes.m_texts.empty();
        std::fprintf(stderr,
                     "idle connected window (offscreen, device on a pseudo-terminal): %.3f ms of process CPU "
                     "over %d s%s\n",
                     cpuMs, nSeconds, bStillConnected ? "" : " (the connection did not stay quiet)");
        const std::string figure = "Idle connected window: process CPU over " + std::to_string(nSeconds) +
                                   " s (offscreen)";
        std::printf("| %s | %.2f ms | %.0f ms | %.3f |\n", figure.c_str(), cpuMs, kIdleLimitMs, cpuMs / kIdleLimitMs);
        std::fflush(stdout);
        nCode = bStillConnected ? 0 : 1;
        varnis::VarnisDlgProbe(dlg).Command(varnis::kIdClosePort);
    }
    device.Stop();
    return nCode;
}
