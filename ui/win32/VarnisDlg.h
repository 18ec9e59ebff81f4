// The main window as a native dialog: the form is a template made from the
// core's table, run by DialogBoxIndirectParamW; every message is handed to
// the window's core (ui/core/VarnisDlgCore.h), which holds the rules, the
// states, the routing and the engine's wiring. Here are only the window's
// thread and the shell the core calls (boxes, timers, the help window, the
// menu and the icon).
#pragma once

#include "ui/core/VarnisDlgCore.h"
#include "ui/win32/Accessibility.h"
#include "ui/win32/DialogControls.h"
#include "ui/win32/DpiIcons.h"
#include "ui/win32/ModalChain.h"
#include "ui/win32/Win32OwnerThread.h"

#include <windows.h>

#include <map>

namespace varnis {

class PortTable;

class VarnisDlg final : private IDialogShell, private IShellResources {
public:
    explicit VarnisDlg(const DpiCalls& dpiCalls = DpiCalls::FromSystem());
    ~VarnisDlg() override = default;
    VarnisDlg(const VarnisDlg&) = delete;
    VarnisDlg& operator=(const VarnisDlg&) = delete;

    void SetPortTable(const PortTable& table);
    // The modal run; IDOK or IDCANCEL, -1 when the window could not be made.
    INT_PTR Run();

private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT nMessage, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT nMessage, WPARAM wParam, LPARAM lParam);
    bool OnPaint();
    void OnTimerMessage(UINT_PTR nSystemId);

    // IDialogShell
    void Message(std::string_view text, std::string_view caption) override;
    void ErrorMessage(std::string_view text, std::string_view caption, bool bLineLost) override;
    bool Confirm(std::string_view text, std::string_view caption) override;
    void StartTimer(int nId, int nMilliseconds) override;
    void StopTimer(int nId) override;
    void ShowHelpWindow() override;
    void EndWindow(bool bOk) override;
    // IShellResources
    std::string ResourceString(int nId) const override;
    void AppendMenuItem(unsigned nCommand, std::string_view text) override;
    void SetWindowIcon() override;

    HWND m_hDlg = nullptr;
    DialogAnnotations m_annotations;
    WindowIcons m_icons;
    const DpiCalls& m_dpiCalls;
    // Each start of a window timer gets a system id of its own: an expiry of
    // an earlier start that is already queued no longer matches, and is dropped.
    std::map<int, UINT_PTR> m_timers;
    UINT_PTR m_nNextSystemTimerId = 0x100;

    // Before the core, whose hand-overs run on it.
    Win32OwnerThread m_ownerThread;
    // Every box, the locking question, the help window and the engine's
    // boxes open in it.
    ModalChain m_modal;
    DialogControls m_controls;
    VarnisDlgCore m_core;
};

// The application: common controls, the main window's modal run, the end.
// `dpiCalls`: the system's; a test plays a system without them.
int RunVarnisApp(const DpiCalls& dpiCalls = DpiCalls::FromSystem());

}  // namespace varnis
