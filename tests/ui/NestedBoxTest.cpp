// The real window and engine with boxes that stay open while the window's
// event loop runs inside them, as a modal box does: timers and notifications
// are handled in there, and nothing may freeze.
#include "sim/SimDevice.h"
#include "ui/UiTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <dlfcn.h>
#include <sys/stat.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

namespace {
// The device whose line set-up fails, as with a USB adapter pulled out while
// the search opens it; 0 for none.
std::atomic<dev_t> g_failingLine{0};
}  // namespace

// Stands in front of the C library's tcsetattr, in this test program only.
extern "C" int tcsetattr(int hFd, int nActions, const struct termios* pTermios)
{
    struct stat st {};
    const dev_t failing = g_failingLine.load();
    if (failing != 0 && ::fstat(hFd, &st) == 0 && st.st_rdev == failing) {
        errno = EIO;
        return -1;
    }
    using Real = int (*)(int, int, const struct termios*);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcsetattr"));
    return real(hFd, nActions, pTermios);
}

namespace varnis::uitest {
namespace {

using namespace std::chrono_literals;

// "OpenPort" pressed again while COM1's probe is outstanding; COM2 opens but
// its line set-up fails, so the engine's box opens inside the search step.
// The step has ended COM1's wait first: no probe expiry runs inside the box
// (before, it re-entered the engine and froze the window for good). The real
// boxes open; a person reads each for 300 ms (three probe periods) while the
// window goes on serving events, then presses OK, and the search goes on to
// its end.
TEST(NestedBoxes, AnEngineBoxInsideASearchStepFreezesNothing)
{
    std::optional<PtyPair> com1 = PtyPair::Open();
    std::optional<PtyPair> com2 = PtyPair::Open();
    ASSERT_TRUE(com1 && com2);
    PortTable table;
    table.SetPath(1, com1->SlavePath());
    table.SetPath(2, com2->SlavePath());
    struct stat st {};
    ASSERT_EQ(::stat(com2->SlavePath().c_str(), &st), 0);

    VarnisDlg dlg;  // with its own, real message boxes
    const VarnisDlgProbe probe(dlg);
    dlg.SetPortTable(table);
    dlg.show();
    struct Seen {
        QString m_strText;
        QString m_strCaption;
        bool m_bProbeWaiting = false;
        int m_nTicks = 0;
    };
    std::vector<Seen> seen;
    QPointer<QMessageBox> pOpen;
    QElapsedTimer openFor;
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [&]() {
        auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (pBox == nullptr)
            return;
        if (pBox != pOpen) {
            pOpen = pBox;
            openFor.start();
            seen.push_back({pBox->text(), pBox->windowTitle(),
                            probe.IsTimerRunning(kProbeTimerId) || probe.Link().m_bProbeOutstanding, 0});
        }
        ++seen.back().m_nTicks;
        if (openFor.elapsed() >= 300)
            pBox->button(QMessageBox::Ok)->click();
    });
    person.start(20);

    g_failingLine = st.st_rdev;
    VarnisDlgProbe(dlg).Command(kIdOpenPort);
    VarnisDlgProbe(dlg).Command(kIdOpenPort);
    ASSERT_TRUE(WaitFor([&]() { return seen.size() == 2 && QApplication::activeModalWidget() == nullptr; }, 20s));
    g_failingLine = 0;

    EXPECT_EQ(seen[0].m_strCaption, QStringLiteral("Application Error"));
    EXPECT_TRUE(seen[0].m_strText.startsWith(QStringLiteral("WARNING:  SetCommState() Failed")))
        << seen[0].m_strText.toStdString();
    EXPECT_TRUE(seen[0].m_strText.endsWith(QStringLiteral("Port: 2\n")));
    EXPECT_FALSE(seen[0].m_bProbeWaiting);
    EXPECT_GE(seen[0].m_nTicks, 2);  // the window's loop ran inside the box
    EXPECT_EQ(seen[1].m_strText, QStringLiteral("Provin Generator Device not found."));
    EXPECT_FALSE(VarnisDlgProbe(dlg).IsPortOpen());
    EXPECT_EQ(probe.Link().m_nNextPortToProbe, 1);
}

}  // namespace
}  // namespace varnis::uitest
