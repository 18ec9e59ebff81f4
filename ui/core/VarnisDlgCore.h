// The main window without a toolkit, and its composition, made once for every
// front end: the flags, the settings and the link state; the engine, bound to
// the window's owner channel when it is made; the error reporter; and the
// order in which they go at the end. It holds the start state, every click
// rule, the locking confirmation, both connection states and the routing of
// commands, menu commands, timers and the engine's notifications. It drives
// the form through IDialogSurface and the window through IDialogShell; each
// front end forwards its events here and shows what it is told.
#pragma once

#include "config/CardSettings.h"
#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"
#include "serial/OwnerThread.h"
#include "serial/SerialPort.h"
#include "ui/core/DialogSurface.h"
#include "ui/core/FormRules.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace varnis {

class PortTable;

// The engine's error reports, shown by `show` on the window's thread (the
// thread that made the reporter). There the box opens at once; from the
// monitoring thread the report is handed over and waited for, and a stop
// request ends that wait.
class WindowErrorReporter final : public IErrorReporter {
public:
    // `bLineLost`: the failure lost the line; SPN_LINE_LOST follows.
    using Show = std::function<void(std::string_view text, std::string_view caption, bool bLineLost)>;
    WindowErrorReporter(IOwnerThread& owner, Show show);
    void ReportError(std::string_view text, std::string_view caption, const CancelSignal& cancel) override;
    void ReportLineLost(std::string_view text, std::string_view caption, const CancelSignal& cancel) override;
    void Close();  // reports in flight return; later ones show nothing

private:
    void Report(std::string_view text, std::string_view caption, bool bLineLost, const CancelSignal& cancel);

    Show m_show;
    std::thread::id m_ownerId;
    HandOverChannel m_channel;
};

class VarnisDlgCore final : private ILinkWindow {
public:
    // `ownerThread` runs callables on the window's thread, the one making the
    // core: the engine's notifications and error reports reach the window
    // through it.
    VarnisDlgCore(IDialogSurface& surface, IDialogShell& shell, IShellResources& resources, IOwnerThread& ownerThread);
    VarnisDlgCore(const VarnisDlgCore&) = delete;
    VarnisDlgCore& operator=(const VarnisDlgCore&) = delete;
    // A notification or error report in flight returns first; the engine's
    // destruction then stops its thread without waiting on the window.
    ~VarnisDlgCore() override;

    // Without a table the machine's own serial devices are used.
    void SetPortTable(const PortTable& table);
    // Why the port opened last could not be opened (nothing when it was).
    PortDiagnosis LastOpenFailure() const { return m_serialPort.LastOpenFailure(); }

    // The start state, once the form exists: lists filled, edit fields limited.
    void OnInitMainWindow();
    // Every click on a control (or Enter and Escape, as ids 1 and 2), the
    // front end having set the control's check mark as its toolkit does. A
    // choice's rule runs only while the control is enabled. False: the id is
    // not one of the form's.
    bool OnCommand(int nId);
    // True when the command was the help item's; every other command gets the
    // platform's default handling.
    bool OnSysCommand(unsigned nId);
    void OnTimer(int nId);
    void OnNotification(std::uint32_t nMessage, std::uint32_t nWParam, std::uint32_t nLParam);

    // The states, also for the window's own callers and tests.
    void EnterConnectedState() override { m_rules.EnterConnectedState(); }
    void EnterDisconnectedState() override { m_rules.EnterDisconnectedState(); }
    void ReadFormTexts() override { m_rules.ReadFormTexts(); }
    // The build of the form as "Make Provin" starts it, without sending:
    // a refused form shows why.
    bool BuildSettings() { return m_link.BuildForm(); }

    bool IsPortOpen() const override { return m_rules.IsPortOpen(); }
    void SetPortOpen(bool bOpen) override { m_rules.SetPortOpen(bOpen); }
    std::int32_t ConfigLockingFlag() const { return m_rules.ConfigLockingFlag(); }
    const CardSettings& Settings() const override { return m_rules.Settings(); }
    const BuildState& Build() const { return m_buildState; }
    const LinkState& Link() const { return m_linkState; }

private:
    // ILinkWindow
    void ShowMessage(std::string_view text, std::string_view caption) override;
    void OnAnswer(const LinkAnswer& answer) override { m_shell.OnAnswer(answer); }
    void OnSearchStep(const SearchStep& step) override { m_shell.OnSearchStep(step); }
    int SelectedSector() const override;
    int SelectedBlock() const override;
    int SelectedStartAddress() const override;
    int SelectedEndAddress() const override;
    void StartTimer(int nId, int nMilliseconds) override;
    void StopTimer(int nId) override;

    IDialogSurface& m_surface;
    IDialogShell& m_shell;
    IShellResources& m_resources;

    // Before the engine: they outlive it.
    WindowErrorReporter m_errorReporter;
    SerialOwnerChannel m_ownerChannel;

    SerialPort m_serialPort;
    BuildState m_buildState;
    FormRules m_rules;
    LinkState m_linkState;
    SerialPortEngine m_engine;
    DeviceLink m_link;
};

}  // namespace varnis
