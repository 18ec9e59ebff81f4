// The desktop tool with a simulated generator device behind COM3 and two
// ports behind COM1 and COM2 that nobody answers. Every frame the device
// receives is printed, decoded, on standard output.
//
//   varnis-demo                    run the tool
//   varnis-demo --screenshot FILE  press "OpenPort", wait for the connection,
//                                  save a picture of the window and quit
//   varnis-demo --exercise         press "OpenPort", then "Make Provin" once;
//                                  message boxes are printed instead of shown
//   varnis-demo --tour DIR         at the keyboard: connect, open a list, the
//                                  help window and make a card, saving a
//                                  picture of each (with the window manager's
//                                  frame) into DIR, then quit
#include "serial/PortTable.h"
#include "sim/SimDevice.h"
#include "ui/core/FormIds.h"
#include "ui/qt/MessageBoxes.h"
#include "ui/qt/VarnisApp.h"
#include "ui/qt/VarnisDlg.h"
#include "ui/qt/VarnisDlgProbe.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QGuiApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::mutex g_outputLock;

void PrintLine(std::string_view line)
{
    const std::lock_guard lock(g_outputLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    if (line.empty() || line.back() != '\n')
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

constexpr std::string_view kHelp =
    "Usage: varnis-demo [--screenshot FILE | --exercise | --tour DIR]\n"
    "The desktop tool with a simulated generator device behind COM3 and two ports\n"
    "behind COM1 and COM2 that nobody answers, for trying the tool without hardware.\n"
    "Every frame the device receives is printed, decoded, on standard output.\n"
    "\n"
    "  --screenshot FILE  press \"OpenPort\", wait for the connection, save a picture\n"
    "                     of the window to FILE and quit\n"
    "  --exercise         press \"OpenPort\", then \"Make Provin\" once; message boxes\n"
    "                     are printed instead of shown\n"
    "  --tour DIR         at the keyboard: connect, open a list, the help window and\n"
    "                     make a card, saving a picture of each (with the window\n"
    "                     manager's frame) into DIR, then quit\n"
    "  -h, --help         show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 when the window was closed (with --screenshot: the picture was\n"
    "saved; with --exercise: the card was made, \"Success!\"), 1 otherwise, 2 on a\n"
    "bad option.\n";

int Usage(int nCode)
{
    if (nCode != 0) {
        std::fputs("usage: varnis-demo [--screenshot FILE | --exercise | --tour DIR] (see varnis-demo --help)\n",
                   stderr);
        return nCode;
    }
    std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "varnis-demo: cannot write to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return nCode;
}

// Boxes nobody has to answer: printed, then taken as OK.
class PrintedBoxes : public varnis::IMessageBoxes {
public:
    void Message(QWidget*, const QString& text, const QString& caption) override { Print(caption, text); }
    void Error(const QString& text, const QString& caption) override { Print(caption, text); }
    bool Confirm(QWidget*, const QString& text, const QString& caption) override
    {
        Print(caption, text);
        return true;
    }
    std::vector<std::string> m_texts;

private:
    void Print(const QString& caption, const QString& text)
    {
        m_texts.push_back(text.toStdString());
        PrintLine("box [" + caption.toStdString() + "]: " + text.toStdString());
    }
};

// Connects, makes one card with the form's defaults and closes the window
// once the outcome (or any other message) has been shown.
void Exercise(varnis::VarnisDlg& dlg, PrintedBoxes& boxes)
{
    dlg.SetMessageBoxes(&boxes);
    auto pClock = std::make_shared<QElapsedTimer>();
    QTimer::singleShot(200, &dlg, [&dlg, pClock]() {
        pClock->start();
        static_cast<QPushButton*>(varnis::VarnisDlgProbe(dlg).Control(varnis::kIdOpenPort))->click();
    });
    auto* pPoll = new QTimer(&dlg);
    QObject::connect(pPoll, &QTimer::timeout, &dlg, [&dlg, &boxes, pPoll, pClock, bMade = false]() mutable {
        if (!boxes.m_texts.empty()) {
            pPoll->stop();
            PrintLine("varnis-demo: outcome after " + std::to_string(pClock->elapsed()) + " ms");
            dlg.accept();
        } else if (varnis::VarnisDlgProbe(dlg).IsPortOpen() && !bMade) {
            bMade = true;
            PrintLine("varnis-demo: connected after " + std::to_string(pClock->restart()) +
                      " ms; pressing \"Make Provin\"");
            static_cast<QPushButton*>(varnis::VarnisDlgProbe(dlg).Control(varnis::kIdMake))->click();
        }
    });
    pPoll->start(10);
}

// Presses "OpenPort", waits until the device has been found, saves the window
// to `path` and closes it. `bOk` tells whether all of that worked.
void TakeScreenshotWhenConnected(varnis::VarnisDlg& dlg, const QString& path, bool& bOk)
{
    QTimer::singleShot(500, &dlg, [&dlg]() {
        static_cast<QPushButton*>(varnis::VarnisDlgProbe(dlg).Control(varnis::kIdOpenPort))->click();
    });
    auto* pPoll = new QTimer(&dlg);
    auto* pClock = new QElapsedTimer;
    pClock->start();
    QObject::connect(pPoll, &QTimer::timeout, &dlg, [&dlg, pPoll, pClock, path, &bOk]() {
        const bool bTimedOut = pClock->elapsed() > 15000;
        if (!varnis::VarnisDlgProbe(dlg).IsPortOpen() && !bTimedOut)
            return;
        pPoll->stop();
        delete pClock;
        // Let the connected state paint before the picture is taken.
        QTimer::singleShot(400, &dlg, [&dlg, path, &bOk, bTimedOut]() {
            QPixmap picture;
            if (QScreen* pScreen = dlg.screen(); pScreen != nullptr && dlg.windowHandle() != nullptr)
                picture = pScreen->grabWindow(dlg.winId());
            if (picture.isNull())
                picture = dlg.grab();
            bOk = !bTimedOut && picture.save(path);
            PrintLine(bOk ? "varnis-demo: screenshot saved to " + path.toStdString()
                          : std::string("varnis-demo: no screenshot (device not found or file not written)"));
            dlg.reject();
        });
    });
    pPoll->start(100);
}

// A key pressed and released as a person types it, to the focused control.
void TypeKey(Qt::Key eKey)
{
    for (const QEvent::Type eType : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QWidget* pFocus = QApplication::focusWidget();
        if (pFocus == nullptr)
            return;
        QKeyEvent event(eType, eKey, Qt::NoModifier, eKey == Qt::Key_Space ? QStringLiteral(" ") : QString());
        QApplication::sendEvent(pFocus, &event);
    }
}

// Saves `pWidget` with the window manager's frame around it (as wide as the
// frame of `pFramed`, which has been up long enough to know it), as the
// screen shows it.
bool SaveFramed(QWidget* pWidget, const QWidget* pFramed, const QString& path)
{
    const QRect outer = pFramed->frameGeometry();
    const QRect inner = pFramed->geometry();
    const QRect frame = pWidget->geometry().adjusted(outer.left() - inner.left(), outer.top() - inner.top(),
                                                     outer.right() - inner.right(), outer.bottom() - inner.bottom());
    QScreen* pScreen = pWidget->screen();
    QPixmap picture;
    if (pScreen != nullptr)
        picture = pScreen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (picture.isNull())
        picture = pWidget->grab();
    const bool bOk = picture.save(path);
    PrintLine((bOk ? "varnis-demo: saved " : "varnis-demo: could not save ") + path.toStdString());
    return bOk;
}

// The tour: each step runs when the one before has settled on the screen.
class Tour : public QObject {
public:
    Tour(varnis::VarnisDlg& dlg, const QString& dir, bool& bOk) : QObject(&dlg), m_dlg(dlg), m_dir(dir), m_bOk(bOk)
    {
        QDir().mkpath(dir);
        m_bOk = true;
        After(700, [this]() { Connect(); });
    }

private:
    void After(int nMilliseconds, std::function<void()> step)
    {
        QTimer::singleShot(nMilliseconds, this, std::move(step));
    }
    void Save(QWidget* pWidget, const char* pszName)
    {
        m_bOk = SaveFramed(pWidget, &m_dlg, m_dir + "/" + pszName) && m_bOk;
    }
    // Runs `step` once `done` holds, polling; gives up after 15 s.
    void When(std::function<bool()> done, std::function<void()> step, int nTries = 150)
    {
        if (done()) {
            After(500, std::move(step));
        } else if (nTries == 0) {
            PrintLine("varnis-demo: the tour did not get on");
            m_bOk = false;
            m_dlg.reject();
        } else {
            After(100, [this, done, step, nTries]() { When(done, step, nTries - 1); });
        }
    }
    void Connect()
    {
        TypeKey(Qt::Key_Tab);  // "Exit" -> "Help" -> "OpenPort"
        TypeKey(Qt::Key_Tab);
        TypeKey(Qt::Key_Space);
        When([this]() { return varnis::VarnisDlgProbe(m_dlg).IsPortOpen(); },
             [this]() {
                 Save(&m_dlg, "a11y-connected.png");
                 OpenList();
             });
    }
    void OpenList()
    {
        static_cast<QAbstractButton*>(varnis::VarnisDlgProbe(m_dlg).Control(varnis::kIdMode1))->click();
        auto* pList = static_cast<QComboBox*>(varnis::VarnisDlgProbe(m_dlg).Control(varnis::kIdSector));
        pList->setFocus(Qt::TabFocusReason);
        pList->showPopup();
        After(600, [this, pList]() {
            Save(&m_dlg, "a11y-list-open.png");
            pList->hidePopup();
            After(300, [this]() { OpenHelp(); });
        });
    }
    void OpenHelp()
    {
        When(
            [this]() {
                QWidget* pModal = QApplication::activeModalWidget();
                return pModal != nullptr && pModal != &m_dlg;
            },
            [this]() {
                QWidget* pHelp = QApplication::activeModalWidget();
                Save(pHelp, "a11y-help.png");
                TypeKey(Qt::Key_Return);  // "OK"
                After(300, [this]() { MakeCard(); });
            });
        varnis::VarnisDlgProbe(m_dlg).ShowHelpWindow();
    }
    void MakeCard()
    {
        varnis::VarnisDlgProbe(m_dlg).Control(varnis::kIdMake)->setFocus(Qt::TabFocusReason);
        When([]() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
             [this]() {
                 auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                 PrintLine("varnis-demo: box \"" + pBox->text().toStdString() + "\"");
                 Save(pBox, "a11y-success-box.png");
                 TypeKey(Qt::Key_Return);
                 After(500, [this]() {
                     Save(&m_dlg, "a11y-after-box.png");
                     m_dlg.reject();
                 });
             });
        TypeKey(Qt::Key_Space);  // "Make Provin"
    }

    varnis::VarnisDlg& m_dlg;
    QString m_dir;
    bool& m_bOk;
};

}  // namespace

int main(int argc, char** argv)
{
    std::optional<QString> screenshot;
    std::optional<QString> tour;
    bool bExercise = false;
    for (int n = 1; n < argc; ++n) {
        const std::string_view arg = argv[n];
        if (arg == "--screenshot" && n + 1 < argc)
            screenshot = QString::fromLocal8Bit(argv[++n]);
        else if (arg == "--tour" && n + 1 < argc)
            tour = QString::fromLocal8Bit(argv[++n]);
        else if (arg == "--exercise")
            bExercise = true;
        else if (arg == "--help" || arg == "-h")
            return Usage(0);
        else if (arg == "--version") {
            std::fputs("varnis-demo " VARNIS_VERSION "\n", stdout);
            if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
                std::fprintf(stderr, "varnis-demo: cannot write to standard output: %s\n", std::strerror(errno));
                return 1;
            }
            return 0;
        } else if (arg.starts_with("--") || arg.starts_with("-"))
            return Usage(2);
    }

    std::vector<varnis::PtyPair> lines;
    for (int n = 0; n < 3; ++n) {
        std::optional<varnis::PtyPair> pair = varnis::PtyPair::Open();
        if (!pair) {
            std::perror("varnis-demo: no pseudo-terminal");
            return 1;
        }
        lines.push_back(std::move(*pair));
    }
    varnis::PortTable table;
    for (unsigned n = 0; n < lines.size(); ++n)
        table.SetPath(n + 1, lines.at(n).SlavePath());

    varnis::SimBehaviour behaviour;
    behaviour.m_nCardWriteMs = 300;  // long enough to watch, short enough not to wait
    varnis::SimDevice device(lines.at(2).MasterFd(), behaviour);
    device.SetLogger([](std::string_view line) { PrintLine("device: " + std::string(line)); });
    if (!device.Start()) {
        PrintLine("varnis-demo: the simulated device did not start");
        return 1;
    }
    PrintLine("varnis-demo: COM1 " + lines.at(0).SlavePath() + " (silent), COM2 " + lines.at(1).SlavePath() +
              " (silent), COM3 " + lines.at(2).SlavePath() + " (simulated generator device)");

    varnis::VarnisApp app;
    app.SetPortTable(table);
    bool bScreenshotOk = false;
    PrintedBoxes printedBoxes;
    if (bExercise) {
        app.SetMainWindowHook([&printedBoxes](varnis::VarnisDlg& dlg) { Exercise(dlg, printedBoxes); });
    } else if (tour) {
        app.SetMainWindowHook([&tour, &bScreenshotOk](varnis::VarnisDlg& dlg) {
            new Tour(dlg, *tour, bScreenshotOk);  // owned by the window
        });
    } else if (screenshot) {
        app.SetMainWindowHook([&screenshot, &bScreenshotOk](varnis::VarnisDlg& dlg) {
            TakeScreenshotWhenConnected(dlg, *screenshot, bScreenshotOk);
        });
    }
    const int nCode = app.Run(argc, argv);
    device.Stop();
    if ((screenshot || tour) && !bExercise && !bScreenshotOk)
        return 1;
    if (bExercise)
        return printedBoxes.m_texts == std::vector<std::string>{"Success!"} ? 0 : 1;
    return nCode;
}
