// A look inside the main window, for tests and the demo's scripted runs: the
// controls by form id, the window's menu, the flags, the settings block and
// the link's state, and whether a window timer runs.
#pragma once

#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"
#include "ui/qt/VarnisDlg.h"

#include <cstdint>

class QMenu;

namespace varnis {

class VarnisDlgProbe {
public:
    explicit VarnisDlgProbe(const VarnisDlg& dlg) : m_dlg(dlg) {}

    // The control with a form id, or null.
    QWidget* Control(int nId) const;
    QMenu* SystemMenu() const;
    std::int32_t ConfigLockingFlag() const;
    const BuildState& Build() const;
    const LinkState& Link() const;
    bool IsTimerRunning(int nId) const;

private:
    const VarnisDlg& m_dlg;
};

}  // namespace varnis
