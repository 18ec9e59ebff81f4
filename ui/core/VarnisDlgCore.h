// The main window without a toolkit: the flags, the settings and the link
// state; the start state, every click rule, the locking confirmation, both
// connection states and the routing of commands, menu commands, timers and
// the engine's notifications. It drives the form through IDialogSurface and
// the window through IDialogShell; each toolkit's window forwards its events
// here and shows what it is told.
#pragma once

#include "config/CardSettings.h"
#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"
#include "serial/SerialPort.h"
#include "ui/core/DialogSurface.h"
#include "ui/core/FormRules.h"

#include <cstdint>
#include <string>

namespace varnis {

class VarnisDlgCore final : private ILinkWindow {
public:
    // `pOwner` receives the engine's notifications on the window's thread and
    // hands them to OnNotification.
    VarnisDlgCore(IDialogSurface& surface, IDialogShell& shell, IShellResources& resources, ISerialOwner* pOwner);
    VarnisDlgCore(const VarnisDlgCore&) = delete;
    VarnisDlgCore& operator=(const VarnisDlgCore&) = delete;
    ~VarnisDlgCore() override = default;

    // The engine the link drives.
    SerialPort& Port() { return m_serialPort; }

    // The start state, once the form exists: lists filled, edit fields limited.
    void OnInitMainWindow();
    // A click on a control (or Enter and Escape, as ids 1 and 2). False: the
    // id is not one of the form's.
    bool OnCommand(int nId);
    // True when the command was the help item's; every other command gets the
    // platform's default handling.
    bool OnSysCommand(unsigned nId);
    void OnTimer(int nId);
    void OnNotification(std::uint32_t nMessage, std::uint32_t nWParam, std::uint32_t nLParam);

    // The rules and states, also for the window's own callers and tests.
    void OnClickRule(int nId) { m_rules.OnClickRule(nId); }
    void EnterConnectedState() override { m_rules.EnterConnectedState(); }
    void EnterDisconnectedState() override { m_rules.EnterDisconnectedState(); }
    void ReadFormTexts() override { m_rules.ReadFormTexts(); }
    void ShowFormTexts() { m_rules.ShowFormTexts(); }

    bool IsPortOpen() const override { return m_rules.IsPortOpen(); }
    void SetPortOpen(bool bOpen) override { m_rules.SetPortOpen(bOpen); }
    std::int32_t ConfigLockingFlag() const { return m_rules.ConfigLockingFlag(); }
    const CardSettings& Settings() const override { return m_rules.Settings(); }
    const BuildState& Build() const { return m_buildState; }
    const LinkState& Link() const { return m_linkState; }
    DeviceLink& LinkHandlers() { return m_link; }

private:
    // ILinkWindow
    void ShowMessage(std::string_view text, std::string_view caption) override;
    int SelectedSector() const override;
    int SelectedBlock() const override;
    int SelectedStartAddress() const override;
    int SelectedEndAddress() const override;
    void StartTimer(int nId, int nMilliseconds) override;
    void StopTimer(int nId) override;
    ISerialOwner* PortOwner() override { return m_pOwner; }


    IDialogSurface& m_surface;
    IDialogShell& m_shell;
    IShellResources& m_resources;
    ISerialOwner* m_pOwner;

    SerialPort m_serialPort;
    BuildState m_buildState;
    FormRules m_rules;
    LinkState m_linkState;
    SerialPortEngine m_engine;
    DeviceLink m_link;
};

}  // namespace varnis
