// A form held in memory: every control of the main form by id with its
// enabled state, check mark, selection and text, and the keyboard focus as a
// toolkit moves it. For owners without a window (the command line) and tests.
#pragma once

#include "ui/core/DialogSurface.h"

#include <map>
#include <string>
#include <vector>

namespace varnis {

class MemorySurface final : public IDialogSurface {
public:
    // The main form as it is made: everything enabled but the port list.
    MemorySurface();

    // Disabling the focused control hands the focus to the next enabled Tab stop.
    void Enable(int nId, bool bEnable) override;
    bool IsEnabled(int nId) const override;
    void SetCheck(int nId, bool bChecked) override;
    bool IsChecked(int nId) const override;
    void Select(int nId, int nIndex) override;
    int Selection(int nId) const override;
    // A text is kept whole, even past the field's length limit: a caller that
    // types more than a window's field takes learns it from the build's check.
    void SetText(int nId, std::string_view text) override;
    std::string Text(int nId) const override;
    int FocusedId() const override { return m_nFocus; }
    void Focus(int nId) override { MoveFocus(nId); }
    // Every control the focus has rested on, in order (a screen reader
    // announces each one).
    const std::vector<int>& FocusTrail() const { return m_focusTrail; }
    void ClearFocusTrail() { m_focusTrail.clear(); }

    // What a click does to the marks before its rule runs: an automatic radio
    // button checks itself and clears its group, the check box toggles.
    // False, and nothing changes, for a disabled control.
    bool MarkAsClicked(int nId);

private:
    struct Control {
        bool m_bEnabled = true;
        bool m_bChecked = false;
        int m_nSelection = -1;
        std::string m_strText;
    };

    int NextTabStop(int nId) const;
    void MoveFocus(int nId)
    {
        if (nId != m_nFocus)
            m_focusTrail.push_back(nId);
        m_nFocus = nId;
    }

    std::map<int, Control> m_controls;
    int m_nFocus = 0;
    std::vector<int> m_focusTrail;
};

}  // namespace varnis
