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

bool VarnisDlgProbe::IsTimerRunning(int nId) const
{
    const QTimer* pTimer = m_dlg.m_p->FindTimer(nId);
    return pTimer != nullptr && pTimer->isActive();
}

}  // namespace varnis
