// The form's rules over a surface: the start state, the click rule of every
// choice, the locking confirmation and the two connection states, with the
// settings they record, the flags and where the keyboard focus goes. The
// window's core drives them from the form's events; the command line drives
// them over a form in memory, clicking as a user would.
#pragma once

#include "config/CardSettings.h"
#include "config/SettingsBuild.h"
#include "ui/core/DialogSurface.h"

#include <cstdint>
#include <initializer_list>

namespace varnis {

class FormRules {
public:
    // `block`: the settings block the click rules write into.
    FormRules(IDialogSurface& surface, IConfirmation& confirmation, SettingsBlock& block);

    // Everything disabled but "Exit", "Help" and "OpenPort"; the defaults
    // shown and checked without running a rule; the focus on "Exit".
    void ShowStartState();
    // The rule of a choice whose check mark the click has already set.
    void OnClickRule(int nId);
    void EnterConnectedState();
    void EnterDisconnectedState();
    // The four edit-field texts: into the settings, and back into the fields.
    void ReadFormTexts();
    void ShowFormTexts();
    int Selection(int nId) const;

    bool IsPortOpen() const { return m_nPortOpen != 0; }
    void SetPortOpen(bool bOpen) { m_nPortOpen = bOpen ? 1 : 0; }
    std::int32_t ConfigLockingFlag() const { return m_nConfigLocking; }
    const CardSettings& Settings() const { return m_settings; }

private:
    void RunClickRule(int nId);
    void OnLockingClicked();
    // Sets the flag and the setting from the locking check mark as it stands.
    void TakeLockingFromCheckMark();
    // Puts the keyboard focus on push button `nToId` unless it is on "Exit" or
    // "Help"; called before the button it replaces and the options are disabled.
    void MoveFocusToButton(int nToId);
    void Enable(int nId, bool bEnable);
    void Enable(std::initializer_list<int> ids, bool bEnable);
    // Checks `nId`, clears the rest of its group and runs its rule.
    void CheckAndRun(int nId);
    // The defaults a new connection and the start share: the four texts
    // shown, the lists at 0, 0, 0 and 4.
    void ShowDefaultTexts();
    void SelectDefaultListItems();

    IDialogSurface& m_surface;
    IConfirmation& m_confirmation;
    SettingsBlock& m_block;
    std::int32_t m_nPortOpen = 0;
    std::int32_t m_nConfigLocking = 0;
    int m_nRuleId = 0;  // the control whose click rule runs, 0 outside a rule
    CardSettings m_settings;
};

}  // namespace varnis
