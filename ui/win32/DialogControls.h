// The core's surface over the controls of a dialog window, addressed by
// their form ids. Texts cross here between UTF-8 and UTF-16.
#pragma once

#include "ui/core/DialogSurface.h"
#include "ui/win32/ControlsById.h"

#include <windows.h>

namespace varnis {

class DialogControls final : public IDialogSurface {
public:
    void Attach(HWND hDlg)
    {
        m_hDlg = hDlg;
        m_controls = ControlsById(hDlg);
    }
    // The dialog's controls, listed when it was attached.
    const ControlsById& Controls() const { return m_controls; }
    // The lists' items and the edit fields' length limits, from the form table.
    void FillForm();

    void Enable(int nId, bool bEnable) override;
    bool IsEnabled(int nId) const override;
    void SetCheck(int nId, bool bChecked) override;
    bool IsChecked(int nId) const override;
    void Select(int nId, int nIndex) override;
    int Selection(int nId) const override;
    void SetText(int nId, std::string_view text) override;
    std::string Text(int nId) const override;
    int FocusedId() const override;
    void Focus(int nId) override;

private:
    HWND Control(int nId) const { return m_controls.Find(nId); }

    HWND m_hDlg = nullptr;
    ControlsById m_controls;
};

}  // namespace varnis
