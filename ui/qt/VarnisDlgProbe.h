// A look inside the main window, for tests and the demo's scripted runs: the
// controls by form id, the window's menu and icon, the flags, the settings,
// the settings block and the link's state, and whether a window timer runs;
// and the events a test plays into the window's core as its controls, its
// menu and the link would.
#pragma once

#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"
#include "ui/qt/VarnisDlg.h"

#include <cstdint>
#include <string_view>

class QIcon;
class QMenu;

namespace varnis {

struct CardSettings;

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
    const QIcon& WindowIcon() const;
    bool IsPortOpen() const;
    const CardSettings& Settings() const;

    // A command as a push button, Enter or Escape gives it (OpenPort, ClosePort, Make, ...).
    void Command(int nId) const;
    // A command of the window's menu.
    void SysCommand(unsigned nId) const;
    void ShowHelpWindow() const;
    // The connected state as the device's answer to a probe brings it.
    void EnterConnectedState() const;
    void ShowMessage(std::string_view text, std::string_view caption) const;

private:
    const VarnisDlg& m_dlg;
};

}  // namespace varnis
