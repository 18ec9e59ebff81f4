#include "ui/VarnisApp.h"

#include "ui/AppIcon.h"
#include "ui/VarnisDlg.h"

#include <QApplication>
#include <QStyleFactory>

#include <memory>

namespace varnis {

int VarnisApp::Run(int& argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varnis"));
    QApplication::setWindowIcon(AppIcon());
    InitInstance();
    return 0;
}

bool VarnisApp::InitInstance()
{
    // 1. The toolkit: controls get a bevelled, three-dimensional look. Qt
    //    dialogs host any widget, so nothing else needs preparing.
    if (QStyle* pStyle = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(pStyle);
    // 2. - 3.
    auto pDlg = std::make_unique<VarnisDlg>(nullptr);
    if (m_portTable)
        pDlg->SetPortTable(*m_portTable);
    m_pMainWnd = pDlg.get();
    if (m_hook)
        m_hook(*pDlg);
    // 4. - 5. OK and Cancel end the program alike.
    pDlg->exec();
    // 6. The engine goes with the window.
    m_pMainWnd = nullptr;
    pDlg.reset();
    // 7.
    return false;
}

}  // namespace varnis
