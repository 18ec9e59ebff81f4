#include "ui/qt/VarnisDlgProbe.h"

#include "ui/qt/VarnisDlgPrivate.h"

#include <QTimer>

namespace varnis {

QWidget* VarnisDlgProbe::Control(int nId) const
{
    return m_dlg.m_p->m_controls.Control(nId);
}

QMenu* VarnisDlgProbe::SystemMenu() const
{
    return m_dlg.m_p->m_pSystemMenu;
}

std::int32_t VarnisDlgProbe::ConfigLockingFlag() const
{
    return m_dlg.m_p->m_core.ConfigLockingFlag();
}

const BuildState& VarnisDlgProbe::Build() const
{
    return m_dlg.m_p->m_core.Build();
}

const LinkState& VarnisDlgProbe::Link() const
{
    return m_dlg.m_p->m_core.Link();
}

const QIcon& VarnisDlgProbe::WindowIcon() const
{
    return m_dlg.m_p->m_icon;
}

bool VarnisDlgProbe::IsPortOpen() const
{
    return m_dlg.m_p->m_core.IsPortOpen();
}

const CardSettings& VarnisDlgProbe::Settings() const
{
    return m_dlg.m_p->m_core.Settings();
}

void VarnisDlgProbe::Command(int nId) const
{
    m_dlg.m_p->m_core.OnCommand(nId);
}

void VarnisDlgProbe::SysCommand(unsigned nId) const
{
    m_dlg.m_p->m_dlg.OnSysCommand(nId);
}

void VarnisDlgProbe::ShowHelpWindow() const
{
    m_dlg.m_p->ShowHelpWindow();
}

void VarnisDlgProbe::EnterConnectedState() const
{
    m_dlg.m_p->m_core.EnterConnectedState();
}

void VarnisDlgProbe::ShowMessage(std::string_view text, std::string_view caption) const
{
    m_dlg.m_p->Message(text, caption);
}

bool VarnisDlgProbe::IsTimerRunning(int nId) const
{
    const QTimer* pTimer = m_dlg.m_p->FindTimer(nId);
    return pTimer != nullptr && pTimer->isActive();
}

}  // namespace varnis
