// The window's menu (Minimise, Close, and the help item), the help window it
// opens, and the window's picture while minimised.
#include "ui/qt/VarnisDlg.h"

#include "ui/qt/DialogUnits.h"
#include "ui/qt/HelpDialog.h"
#include "ui/qt/VarnisDlgPrivate.h"

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
    connect(pMenu, &QMenu::triggered, this, [this](QAction* pAction) { OnSysCommand(pAction->data().toUInt()); });
}

void VarnisDlg::OnSysCommand(unsigned nId)
{
    if (m_p->m_core.OnSysCommand(nId))
        return;
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
