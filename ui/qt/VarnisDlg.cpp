// The window as wiring: the engine's hand-over, the timers and the shell the
// core calls, and every event of the form handed to the core.
#include "ui/qt/VarnisDlg.h"

#include "ui/qt/AppIcon.h"
#include "ui/qt/FormLayout.h"
#include "ui/qt/VarnisDlgPrivate.h"

#include <QMenu>
#include <QPushButton>
#include <QTimer>

namespace varnis {

VarnisDlg::Private::Private(VarnisDlg& dlg)
    : m_dlg(dlg),
      m_pDefaultBoxes(std::make_unique<QtMessageBoxes>()),
      m_pBoxes(m_pDefaultBoxes.get()),
      m_controls(dlg),
      m_core(m_controls, *this, *this, m_ownerThread)
{
}

void VarnisDlg::Private::Message(std::string_view text, std::string_view caption)
{
    m_pBoxes->Message(&m_dlg, FromUtf8(text), FromUtf8(caption));
}

void VarnisDlg::Private::ErrorMessage(std::string_view text, std::string_view caption, bool /*bLineLost*/)
{
    m_pBoxes->Error(FromUtf8(text), FromUtf8(caption));
}

bool VarnisDlg::Private::Confirm(std::string_view text, std::string_view caption)
{
    return m_pBoxes->Confirm(&m_dlg, FromUtf8(text), FromUtf8(caption));
}

void VarnisDlg::Private::EndWindow(bool bOk)
{
    if (bOk)
        m_dlg.accept();
    else
        m_dlg.reject();
}

std::string VarnisDlg::Private::ResourceString(int nId) const
{
    return nId == kAboutMenuStringId ? kAboutMenuText : "";
}

void VarnisDlg::Private::AppendMenuItem(unsigned nCommand, std::string_view text)
{
    m_pSystemMenu->addSeparator();
    m_pSystemMenu->addAction(FromUtf8(text))->setData(nCommand);
}

void VarnisDlg::Private::SetWindowIcon()
{
    m_icon = AppIcon();
    m_dlg.setWindowIcon(m_icon);
}

QTimer* VarnisDlg::Private::Timer(int nId)
{
    auto it = m_timers.find(nId);
    if (it == m_timers.end()) {
        auto* pTimer = new QTimer(&m_dlg);
        pTimer->setTimerType(Qt::PreciseTimer);  // the device's limits are exact
        QObject::connect(pTimer, &QTimer::timeout, &m_dlg, [this, nId]() { m_core.OnTimer(nId); });
        it = m_timers.emplace(nId, pTimer).first;
    }
    return it->second;
}

const QTimer* VarnisDlg::Private::FindTimer(int nId) const
{
    const auto it = m_timers.find(nId);
    return it == m_timers.end() ? nullptr : it->second;
}

VarnisDlg::VarnisDlg(QWidget* pParent) : QDialog(pParent), m_p(std::make_unique<Private>(*this))
{
    for (const int nId : {kReplyTimerId, kProbeTimerId})
        m_p->Timer(nId);
    CreateForm();
    CreateSystemMenu();
    m_p->m_core.OnInitMainWindow();
}

VarnisDlg::~VarnisDlg()
{
    for (auto& [nId, pTimer] : m_p->m_timers)
        pTimer->stop();
}

void VarnisDlg::CreateForm()
{
    LayOutForm(*this, m_p->m_controls, [this](int nId) { m_p->m_core.OnCommand(nId); });
    for (const int nId : {kIdExit, kIdHelp, kIdOpenPort, kIdClosePort, kIdMake}) {
        connect(static_cast<QPushButton*>(m_p->m_controls.Control(nId)), &QPushButton::clicked, this,
                [this, nId]() { m_p->m_core.OnCommand(nId); });
    }
}

void VarnisDlg::SetPortTable(const PortTable& table)
{
    m_p->m_core.SetPortTable(table);
}

void VarnisDlg::SetMessageBoxes(IMessageBoxes* pBoxes)
{
    m_p->m_pBoxes = pBoxes != nullptr ? pBoxes : m_p->m_pDefaultBoxes.get();
}

void VarnisDlg::StartTimer(int nId, int nMilliseconds)
{
    m_p->Timer(nId)->start(nMilliseconds);
}

void VarnisDlg::StopTimer(int nId)
{
    if (const auto it = m_p->m_timers.find(nId); it != m_p->m_timers.end())
        it->second->stop();
}

}  // namespace varnis
