// The command line's window: the window's core (ui/core/VarnisDlgCore.h) over
// a form in memory, with a shell whose boxes become lines of output and whose
// timers are those of an EventLoop. The link's outcomes arrive as values.
#pragma once

#include "apps/cli/CliOptions.h"
#include "serial/EventLoop.h"
#include "ui/core/FormIds.h"
#include "ui/core/MemorySurface.h"
#include "ui/core/VarnisDlgCore.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace varnis::cli {

// On connecting, the choices are clicked and typed in as a user would
// (ui/core/FormChoices.h).
class CliWindow final : private IDialogShell, private IShellResources {
public:
    // `bLockingConfirmed`: the answer to the locking confirmation, asked by
    // the caller before anything is sent (OK = true). The device's answers go
    // to `out`; every other box goes to `err` as "caption: text".
    CliWindow(FormChoices choices, bool bLockingConfirmed, std::ostream& out, std::ostream& err);
    CliWindow(const CliWindow&) = delete;
    CliWindow& operator=(const CliWindow&) = delete;
    ~CliWindow() override = default;

    EventLoop& Loop() { return m_loop; }
    void SetPortTable(const PortTable& table) { m_core.SetPortTable(table); }
    PortDiagnosis LastOpenFailure() const { return m_core.LastOpenFailure(); }
    // The buttons "OpenPort" and "Make Provin".
    void OpenPort() { m_core.OnCommand(kIdOpenPort); }
    void Make() { m_core.OnCommand(kIdMake); }
    // The form as a connection leaves it, filled in from the choices, with
    // no device: for a build that sends nothing.
    void ConnectWithoutDevice();
    bool BuildSettings() { return m_core.BuildSettings(); }
    const BuildState& Build() const { return m_core.Build(); }

    bool IsConnected() const { return m_core.IsPortOpen(); }
    // The last answer of the device or the search, if any.
    std::optional<LinkAnswerKind> LastAnswer() const { return m_eAnswer; }
    void ClearAnswer() { m_eAnswer.reset(); }
    // While held, "not found" is recorded but not shown: the caller tells
    // more precisely why a port it named could not be used.
    void HoldNotFound(bool bHold) { m_bHoldNotFound = bHold; }
    void SetOnSearchStep(std::function<void(const SearchStep&)> onStep) { m_onSearchStep = std::move(onStep); }
    // The port whose line was lost (0: none); once set, the run ends.
    unsigned LostPort() const { return m_nLostPort; }

private:
    // IDialogShell
    void Message(std::string_view text, std::string_view caption) override;
    void ErrorMessage(std::string_view text, std::string_view caption, bool bLineLost) override;
    bool Confirm(std::string_view, std::string_view) override { return m_bLockingConfirmed; }
    void StartTimer(int nId, int nMilliseconds) override;
    void StopTimer(int nId) override { m_loop.StopTimer(nId); }
    void ShowHelpWindow() override {}
    void EndWindow(bool) override {}
    void OnAnswer(const LinkAnswer& answer) override;
    void OnSearchStep(const SearchStep& step) override;
    bool OnLineLost(unsigned portnr) override;
    // IShellResources: no menu and no icon.
    std::string ResourceString(int) const override { return {}; }
    void AppendMenuItem(unsigned, std::string_view) override {}
    void SetWindowIcon() override {}

    std::string RangeDetail() const;

    FormChoices m_choices;
    bool m_bLockingConfirmed;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_bHoldNotFound = false;
    std::optional<LinkAnswerKind> m_eAnswer;
    std::function<void(const SearchStep&)> m_onSearchStep;
    unsigned m_nLostPort = 0;
    // The loop outlives the core, whose hand-overs and timers run on it.
    EventLoop m_loop;
    MemorySurface m_surface;
    VarnisDlgCore m_core;
};

}  // namespace varnis::cli
