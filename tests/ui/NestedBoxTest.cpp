// The real window and engine with boxes that stay open while the window's
// event loop runs inside them, as a modal box does: timers and notifications
// are handled in there, and nothing may freeze.
#include "sim/SimDevice.h"
#include "ui/UiTestSupport.h"

#include <QTest>
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
// (before, it re-entered the engine and froze the window for good). The box
// stays open while the window goes on serving events, then the search goes
// on to its end.
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

    FakeMessageBoxes boxes;
    VarnisDlg dlg;
    dlg.SetPortTable(table);
    dlg.SetMessageBoxes(&boxes);
    dlg.show();
    bool bProbeWaitInBox = true;
    int nTicksInBox = 0;
    boxes.m_onShow = [&](const BoxRecord& record) {
        if (record.m_eKind != BoxRecord::Kind::Error)
            return;
        bProbeWaitInBox = dlg.IsTimerRunning(kProbeTimerId) || dlg.Link().m_bProbeOutstanding;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&]() { ++nTicksInBox; });
        tick.start(10);
        QTest::qWait(300);  // three times the probe's 100 ms
    };

    g_failingLine = st.st_rdev;
    dlg.OnOpenPort();
    dlg.OnOpenPort();
    EXPECT_FALSE(bProbeWaitInBox);
    EXPECT_GT(nTicksInBox, 0);
    ASSERT_TRUE(WaitFor([&]() { return boxes.Has(QStringLiteral("Provin Generator Device not found.")); }, 10s));
    g_failingLine = 0;

    ASSERT_EQ(boxes.m_records.size(), 2U);
    EXPECT_EQ(boxes.m_records[0].m_eKind, BoxRecord::Kind::Error);
    EXPECT_EQ(boxes.m_records[0].m_strCaption, QStringLiteral("Application Error"));
    EXPECT_TRUE(boxes.m_records[0].m_strText.startsWith(QStringLiteral("WARNING:  SetCommState() Failed")))
        << boxes.m_records[0].m_strText.toStdString();
    EXPECT_TRUE(boxes.m_records[0].m_strText.endsWith(QStringLiteral("Port: 2\n")));
    EXPECT_FALSE(dlg.IsPortOpen());
    EXPECT_EQ(dlg.Link().m_nNextPortToProbe, 1);
}

}  // namespace
}  // namespace varnis::uitest
