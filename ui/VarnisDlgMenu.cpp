// The window's menu (Minimise, Close, and the help item), the help window it
// opens, and the window's picture while minimised.
#include "ui/VarnisDlg.h"

#include "ui/DialogUnits.h"
#include "ui/HelpDialog.h"
#include "ui/VarnisDlgPrivate.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>

namespace varnis {

void VarnisDlg::CreateSystemMenu()
{
    QMenu* pMenu = new QMenu(this);
    m_p->m_pSystemMenu = pMenu;
    pMenu->addAction(QStringLiteral("Minimise"))->setData(kSysCommandMinimise);
    pMenu->addAction(QStringLiteral("Close"))->setData(kSysCommandClose);
    const QString about = QString::fromUtf8(kAboutMenuText);
    if (!about.isEmpty()) {
        pMenu->addSeparator();
        pMenu->addAction(about)->setData(kSysCommandAbout);
    }
    connect(pMenu, &QMenu::triggered, this, [this](QAction* pAction) { OnSysCommand(pAction->data().toUInt()); });
}

void VarnisDlg::OnSysCommand(unsigned nId)
{
    if ((nId & 0xFFF0U) == kSysCommandAbout) {
        ShowHelpWindow();
        return;
    }
    switch (nId & 0xFFF0U) {
    case kSysCommandMinimise: showMinimized(); break;
    case kSysCommandClose: close(); break;
    default: break;
    }
}

void VarnisDlg::ShowHelpWindow()
{
    HelpDialog help(this);
    help.exec();
}

void VarnisDlg::contextMenuEvent(QContextMenuEvent* pEvent)
{
    m_p->m_pSystemMenu->exec(pEvent->globalPos());
}

void VarnisDlg::paintEvent(QPaintEvent* pEvent)
{
    if (!isMinimized()) {
        QDialog::paintEvent(pEvent);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const int nIcon = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const IconPosition pos = MinimisedIconPosition(width(), height(), nIcon, nIcon);
    m_p->m_icon.paint(&painter, QRect(pos.m_nX, pos.m_nY, nIcon, nIcon));
}

}  // namespace varnis
