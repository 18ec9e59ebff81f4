#include "ui/qt/VarnisApp.h"

#include "serial/SerialNotify.h"
#include "ui/qt/AppIcon.h"
#include "ui/qt/VarnisDlg.h"

#include <QApplication>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnis {

namespace {

std::string g_strProgram = "varnis";

void PrintNoSessionLine()
{
    std::fprintf(stderr, "%s: a graphical session is needed; without a display, run it as: xvfb-run -a %s\n",
                 g_strProgram.c_str(), g_strProgram.c_str());
}

// While the toolkit connects to the display, its messages are held back: a
// platform that cannot start ends in the one line above instead of the
// toolkit's abort, and otherwise the held messages are passed on.
struct HeldMessage {
    QtMsgType m_eType;
    const char* m_pszFile;  // the context's texts are static
    int m_nLine;
    const char* m_pszFunction;
    const char* m_pszCategory;
    QString m_strText;
};
QtMessageHandler g_pPreviousHandler = nullptr;
std::vector<HeldMessage> g_held;

void HoldStartUpMessage(QtMsgType eType, const QMessageLogContext& context, const QString& text)
{
    if (eType == QtFatalMsg) {
        PrintNoSessionLine();
        std::_Exit(1);
    }
    g_held.push_back({eType, context.file, context.line, context.function, context.category, text});
}

void ReleaseStartUpMessages()
{
    qInstallMessageHandler(g_pPreviousHandler);
    for (const HeldMessage& message : std::exchange(g_held, {})) {
        const QMessageLogContext context(message.m_pszFile, message.m_nLine, message.m_pszFunction,
                                         message.m_pszCategory);
        qt_message_output(message.m_eType, context, message.m_strText);
    }
}

// Without a login session root has no runtime directory; the toolkit then
// makes one of its own in /tmp and says so on every start. That is no news
// to the user, so the line is dropped; every other message passes on.
QtMessageHandler g_pDefaultHandler = nullptr;

void DropRuntimeDirNotice(QtMsgType eType, const QMessageLogContext& context, const QString& text)
{
    if (eType == QtWarningMsg && text.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (g_pDefaultHandler != nullptr)
        g_pDefaultHandler(eType, context, text);
}

}  // namespace

bool HasGraphicalSession()
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    // The desktop is always there; only X11 and Wayland need to be found.
    return true;
#else
    // As the toolkit chooses its platform: one named outright decides for
    // itself (it may need no display); otherwise X11 or Wayland needs its socket.
    for (const char* pszName : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* pszValue = std::getenv(pszName);
        if (pszValue != nullptr && *pszValue != '\0')
            return true;
    }
    return false;
#endif
}

int VarnisApp::Run(int& argc, char** argv)
{
    if (argc > 0 && argv[0] != nullptr) {
        const std::string_view path = argv[0];
        g_strProgram = std::string(path.substr(path.find_last_of("/\\") + 1));
    }
    if (!HasGraphicalSession()) {
        PrintNoSessionLine();
        return 1;
    }
#ifdef NDEBUG
    // The engine's debug trace is not for the user's eyes.
    SetTraceSink([](std::string_view) {});
#endif
    g_pDefaultHandler = qInstallMessageHandler(DropRuntimeDirNotice);
    g_pPreviousHandler = qInstallMessageHandler(HoldStartUpMessage);
    QApplication app(argc, argv);
    ReleaseStartUpMessages();
    QApplication::setApplicationName(QStringLiteral("varnis"));
    QApplication::setWindowIcon(AppIcon());
    InitInstance();
    return 0;
}

bool VarnisApp::InitInstance()
{
    // The toolkit: controls get a bevelled, three-dimensional look. Qt
    // dialogs host any widget, so nothing else needs preparing.
    if (QStyle* pStyle = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(pStyle);
    // The main window, run modally as the application's main window.
    auto pDlg = std::make_unique<VarnisDlg>(nullptr);
    if (m_portTable)
        pDlg->SetPortTable(*m_portTable);
    m_pMainWnd = pDlg.get();
    if (m_hook)
        m_hook(*pDlg);
    // OK and Cancel end the program alike.
    pDlg->exec();
    // The engine goes with the window.
    m_pMainWnd = nullptr;
    pDlg.reset();
    // Nothing more to run: the application ends.
    return false;
}

}  // namespace varnis
