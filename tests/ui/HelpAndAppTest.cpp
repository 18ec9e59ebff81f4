// The help window, the window's menu, the icon and the engine's error boxes.
#include "ui/qt/AppIcon.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/HelpDialog.h"
#include "ui/qt/QtOwnerThread.h"
#include "ui/qt/VarnisApp.h"
#include "ui/core/VarnisDlgCore.h"
#include "ui/UiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextCursor>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace varnis::uitest {
namespace {

const QString kGuide = QStringLiteral(
    "User's Guide:\r\n"
    "\r\n1.The program is used to make the Provin for TLR4A7K reader.\r\n"
    "\r\n2.Switch on the Provin Generator Device and press 'OpenPort' to establish the connection.\r\n"
    "\r\n3.Output data source, UID number or Sector Data, is optional.\r\n"
    "\r\n4.Wiegand or ABA interface is optional.\r\n"
    "\r\n5.The number of data bits,the impulse width and the impulse interval time of Wiegand can be defined.\r\n"
    "\r\n6.The output data content of ABA can be defined.\r\n"
    "\r\n7.When selected to output the sector data of Mifare card, the attribute of the data such as Sector "
    "Number, Block Number,Starting Address,Ending Address and Sequece Arrangement can be defined.\r\n"
    "\r\n8.Sector anthentication mode and password content can be defined.\r\n"
    "\r\n9.Two level configuration security measures,Password Protection and Configuration Locking,can be "
    "selected.\r\n");

TEST(HelpWindow, ShowsTheGuideReadOnlyWithTheFocusOnOk)
{
    EXPECT_EQ(BuildGuideText(), kGuide);
    HelpDialog help;
    EXPECT_EQ(help.windowTitle(), "Help");
    EXPECT_EQ(help.GuideText(), kGuide);
    EXPECT_TRUE(help.TextField()->isReadOnly());
    const QStringList lines = help.TextField()->toPlainText().split(u'\n');
    EXPECT_EQ(lines.front(), "User's Guide:");
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.at(lines.size() - 2),
              "9.Two level configuration security measures,Password Protection and "
              "Configuration Locking,can be selected.");
    EXPECT_EQ(lines.back(), "");  // ends with a line break
    EXPECT_EQ(lines.size(), 2 + 2 * 9);
    EXPECT_TRUE(help.OkButton()->isDefault());
    EXPECT_EQ(help.focusWidget(), help.OkButton());

    help.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&help));
    // The window keeps its form size; the whole guide shows in its field
    // without scrolling, down to the line break after line 9.
    const DialogUnits units(help.font());
    EXPECT_EQ(help.size(), QSize(units.ToPixelsX(263), units.ToPixelsY(218)));
    QPlainTextEdit* pField = help.TextField();
    EXPECT_EQ(pField->verticalScrollBar()->maximum(), 0);
    QTextCursor end(pField->document());
    end.movePosition(QTextCursor::End);
    EXPECT_LE(pField->cursorRect(end).bottom(), pField->viewport()->height());
    EXPECT_LE(pField->font().pointSizeF(), kHelpFontPoints);
    // A caret the keyboard moves: Down goes a line on, and a screen reader
    // reads the line at the caret.
    pField->setFocus(Qt::TabFocusReason);
    QTest::keyClick(pField, Qt::Key_Down);
    QTest::keyClick(pField, Qt::Key_Down);
    QAccessibleTextInterface* pText = QAccessible::queryAccessibleInterface(pField)->textInterface();
    ASSERT_NE(pText, nullptr);
    int nStart = 0;
    int nEnd = 0;
    EXPECT_TRUE(pText->textAtOffset(pText->cursorPosition(), QAccessible::LineBoundary, &nStart, &nEnd)
                    .startsWith("1.The program is used"));
    QTest::keyClicks(help.TextField(), "typed");
    EXPECT_EQ(help.GuideText(), kGuide);
    EXPECT_EQ(help.TextField()->toPlainText().split(u'\n').front(), "User's Guide:");
    QTest::keyClick(&help, Qt::Key_Return);
    EXPECT_FALSE(help.isVisible());
}

// Opens the help window through `open`, checks it is the guide over the main
// window, and closes it with "OK".
void ExpectHelpOpens(VarnisDlg& dlg, const std::function<void()>& open)
{
    bool bSeen = false;
    QTimer::singleShot(0, &dlg, [&]() {
        auto* pHelp = qobject_cast<HelpDialog*>(QApplication::activeModalWidget());
        if (pHelp == nullptr)
            return;
        bSeen = pHelp->GuideText() == kGuide && pHelp->parentWidget() == &dlg;
        pHelp->OkButton()->click();
    });
    open();
    EXPECT_TRUE(bSeen);
}

TEST(HelpWindow, OpensFromTheButtonAndTheMenuItemInAnyState)
{
    FakeMessageBoxes boxes;
    VarnisDlg dlg;
    dlg.SetMessageBoxes(&boxes);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ExpectHelpOpens(dlg, [&]() { Button(dlg, kIdHelp)->click(); });

    QMenu* pMenu = VarnisDlgProbe(dlg).SystemMenu();
    ASSERT_NE(pMenu, nullptr);
    const QList<QAction*> actions = pMenu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions.at(0)->data().toUInt(), kSysCommandMinimise);
    EXPECT_EQ(actions.at(1)->data().toUInt(), kSysCommandClose);
    EXPECT_TRUE(actions.at(2)->isSeparator());
    EXPECT_EQ(actions.at(3)->text(), QString::fromUtf8("关于 Varnis(&A)..."));
    EXPECT_EQ(actions.at(3)->data().toUInt(), 0x0010U);
    ExpectHelpOpens(dlg, [&]() { actions.at(3)->trigger(); });

    VarnisDlgProbe(dlg).EnterConnectedState();
    ExpectHelpOpens(dlg, [&]() { VarnisDlgProbe(dlg).SysCommand(0x0013); });  // the low four bits do not count
    EXPECT_TRUE(dlg.isVisible());
}

TEST(MainWindowMenu, CloseCommandEndsTheRunLikeTheCloseButton)
{
    VarnisDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    VarnisDlgProbe(dlg).SysCommand(kSysCommandClose);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST(AppIconTest, IsTheProjectsOwnInEverySize)
{
    const QIcon icon = AppIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int nSize : {16, 32, 48, 128})
        EXPECT_EQ(icon.pixmap(nSize, nSize).width(), nSize);
    VarnisDlg dlg;
    EXPECT_EQ(dlg.windowIcon().cacheKey(), VarnisDlgProbe(dlg).WindowIcon().cacheKey());
    EXPECT_FALSE(dlg.windowIcon().isNull());
}

// A cancel signal the test raises by hand.
struct TestCancel {
    TestCancel() : m_nFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~TestCancel() { close(m_nFd); }
    TestCancel(const TestCancel&) = delete;
    TestCancel& operator=(const TestCancel&) = delete;
    void Raise() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = write(m_nFd, &one, sizeof one);
    }
    CancelSignal Signal() const { return CancelSignal{m_nFd}; }
    int m_nFd;
};

TEST(ErrorReports, FromAnotherThreadShowOnTheWindowsThreadAndAStopEndsTheWait)
{
    QtOwnerThread owner;
    FakeMessageBoxes boxes;
    // The window's reporter, showing as the Qt window's shell does.
    WindowErrorReporter reporter(owner, [&](std::string_view text, std::string_view caption, bool) {
        boxes.Error(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    });

    std::atomic<bool> bShownOnGuiThread{false};
    boxes.m_onShow = [&](const BoxRecord&) { bShownOnGuiThread = QThread::currentThread() == qApp->thread(); };
    TestCancel cancel;
    std::atomic<bool> bReturned{false};
    std::thread monitor([&]() {
        reporter.ReportError("WARNING:  ReadFile() Failed with the following error: \nI/O error\nPort: 3\n",
                             "Application Error", cancel.Signal());
        bReturned = true;
    });
    EXPECT_TRUE(WaitFor([&]() { return bReturned.load(); }, std::chrono::seconds(10)));
    monitor.join();
    ASSERT_EQ(boxes.m_records.size(), 1U);
    EXPECT_EQ(boxes.m_records.front().m_eKind, BoxRecord::Kind::Error);
    EXPECT_EQ(boxes.m_records.front().m_strCaption, "Application Error");
    EXPECT_FALSE(boxes.m_records.front().m_bOwned);
    EXPECT_TRUE(boxes.m_records.front().m_strText.endsWith("Port: 3\n"));
    EXPECT_TRUE(bShownOnGuiThread);

    // A box the user leaves open: a stop request lets the reporting thread go
    // on while the box is still up.
    bReturned = false;
    bool bReturnedWhileOpen = false;
    boxes.m_onShow = [&](const BoxRecord&) {
        cancel.Raise();
        bReturnedWhileOpen = WaitFor([&]() { return bReturned.load(); }, std::chrono::seconds(10));
    };
    std::thread stopped([&]() {
        reporter.ReportError("text", "Application Error", cancel.Signal());
        bReturned = true;
    });
    EXPECT_TRUE(
        WaitFor([&]() { return boxes.m_records.size() == 2U && boxes.m_nOpen == 0; }, std::chrono::seconds(10)));
    stopped.join();
    EXPECT_TRUE(bReturnedWhileOpen);
}


// The boxes a person answers: exact texts, captions, buttons and icons.
struct SeenBox {
    QString m_strTitle, m_strText;
    int m_nWidth = 0;
    QMessageBox::Icon m_eIcon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons m_buttons;
    QWidget* m_pParent = nullptr;
};

// Answers the next modal message box with `answer` and records what it was.
void AnswerNextBox(SeenBox& seen, QMessageBox::StandardButton answer)
{
    QTimer::singleShot(0, [&seen, answer]() {
        auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (pBox == nullptr)
            return;
        seen = {pBox->windowTitle(),     pBox->text(),        pBox->width(), pBox->icon(),
                pBox->standardButtons(), pBox->parentWidget()};
        pBox->button(answer)->click();
    });
}

TEST(QtMessageBoxesTest, ShowTheSystemsTextsCaptionsButtonsAndIcons)
{
    VarnisDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QtMessageBoxes boxes;

    SeenBox seen;
    AnswerNextBox(seen, QMessageBox::Ok);
    boxes.Message(&dlg, "Success!", "Warning");
    EXPECT_EQ(seen.m_strTitle, "Warning");
    EXPECT_EQ(seen.m_strText, "Success!");
    EXPECT_EQ(seen.m_eIcon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.m_buttons, QMessageBox::Ok);
    EXPECT_EQ(seen.m_pParent, &dlg);
    // Wide enough for a window manager to show the caption beside at least
    // three title-bar buttons, though its text and button need far less.
    const int nTitleBar = dlg.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &dlg);
    EXPECT_GE(seen.m_nWidth, dlg.fontMetrics().horizontalAdvance("Warning") + 3 * nTitleBar);

    AnswerNextBox(seen, QMessageBox::Cancel);
    EXPECT_FALSE(boxes.Confirm(&dlg, "sure?", "Warning"));
    EXPECT_EQ(seen.m_eIcon, QMessageBox::Warning);
    EXPECT_EQ(seen.m_buttons, QMessageBox::Ok | QMessageBox::Cancel);
    AnswerNextBox(seen, QMessageBox::Ok);
    EXPECT_TRUE(boxes.Confirm(&dlg, "sure?", "Warning"));

    AnswerNextBox(seen, QMessageBox::Ok);
    boxes.Error("WARNING:  WriteFile() Failed", "Application Error");
    EXPECT_EQ(seen.m_strTitle, "Application Error");
    EXPECT_EQ(seen.m_eIcon, QMessageBox::Critical);
    EXPECT_EQ(seen.m_buttons, QMessageBox::Ok);
    EXPECT_EQ(seen.m_pParent, nullptr);

    // The window's own messages go through the same boxes, owned by the window.
    AnswerNextBox(seen, QMessageBox::Ok);
    VarnisDlgProbe(dlg).ShowMessage("Configuration password length invalid.", "Warnning");
    EXPECT_EQ(seen.m_strTitle, "Warnning");
    EXPECT_EQ(seen.m_pParent, &dlg);
}

TEST(StartUp, RunsTheMainWindowUntilItIsClosedThenDestroysIt)
{
    for (const bool bExit : {true, false}) {
        VarnisApp app;
        bool bSeenRunning = false;
        app.SetMainWindowHook([&](VarnisDlg& dlg) {
            QTimer::singleShot(0, &dlg, [&dlg, &bSeenRunning, bExit]() {
                bSeenRunning = dlg.isVisible() && QApplication::activeModalWidget() == &dlg;
                if (bExit)
                    Button(dlg, kIdExit)->click();
                else
                    dlg.close();  // the caption's close button
            });
        });
        EXPECT_FALSE(app.InitInstance());
        EXPECT_TRUE(bSeenRunning);
        EXPECT_EQ(app.MainWindow(), nullptr);
        const QWidgetList windows = QApplication::topLevelWidgets();
        EXPECT_TRUE(std::none_of(windows.begin(), windows.end(),
                                 [](QWidget* p) { return qobject_cast<VarnisDlg*>(p) != nullptr; }));
    }
}

struct ProgramRun {
    int m_nExitCode = -1;
    QString m_strOut, m_strErr;
};

// Runs one of the built programs with `changes` to the environment (an empty
// value removes the variable).
ProgramRun RunProgram(const QString& program, const QStringList& args,
                      const std::vector<std::pair<QString, QString>>& changes)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : changes) {
        if (value.isEmpty())
            env.remove(name);
        else
            env.insert(name, value);
    }
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    ProgramRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.m_nExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.m_strOut = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.m_strErr = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TEST(StartUp, WithoutADisplayTheProgramSaysHowToRunItAndEndsWithOne)
{
    const std::vector<std::vector<std::pair<QString, QString>>> sessions = {
        {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}},
        // A display named but not there.
        {{"DISPLAY", ":4711"}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"XAUTHORITY", "/nonexistent"}}};
    for (const auto& changes : sessions) {
        const ProgramRun run = RunProgram(QStringLiteral(VARNIS_GUI_PROGRAM), {}, changes);
        EXPECT_EQ(run.m_nExitCode, 1) << run.m_strErr.toStdString();
        EXPECT_TRUE(run.m_strOut.isEmpty());
        EXPECT_EQ(run.m_strErr.count(u'\n'), 1) << run.m_strErr.toStdString();
        EXPECT_TRUE(run.m_strErr.startsWith("varnis: a graphical session is needed")) << run.m_strErr.toStdString();
        EXPECT_TRUE(run.m_strErr.contains("xvfb-run -a varnis")) << run.m_strErr.toStdString();
    }
}

TEST(StartUp, OnlyDebugBuildsWriteTheEnginesTraceToTheTerminal)
{
    // Connects to the simulated device and makes a card: the engine opens and
    // closes ports and starts and ends its thread, all of which it traces.
    const ProgramRun run =
        RunProgram(QStringLiteral(VARNIS_DEMO_PROGRAM), {"--exercise"}, {{"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(run.m_strOut.contains("box [")) << run.m_strOut.toStdString();
#ifdef NDEBUG
    EXPECT_FALSE(run.m_strErr.contains("Thread started")) << run.m_strErr.toStdString();
    EXPECT_FALSE(run.m_strErr.contains("communicationport")) << run.m_strErr.toStdString();
#else
    EXPECT_TRUE(run.m_strErr.contains("Thread started")) << run.m_strErr.toStdString();
#endif
}

}  // namespace
}  // namespace varnis::uitest
