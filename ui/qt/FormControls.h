// The form's Qt controls by id: the surface the window's core drives.
#pragma once

#include "ui/core/DialogSurface.h"

#include <map>

class QComboBox;
class QLineEdit;
class QWidget;

namespace varnis {

class FormControls final : public IDialogSurface {
public:
    // `window`: the form the controls sit on, which knows the focus.
    explicit FormControls(const QWidget& window) : m_window(window) {}

    void Add(int nId, QWidget* pControl);
    // The control with a form id, or null.
    QWidget* Control(int nId) const;
    QLineEdit* Edit(int nId) const;
    QComboBox* List(int nId) const;
    // The form id of a control, 0 for none.
    int IdOf(const QWidget* pControl) const;

    // IDialogSurface. Check marks set here run no rule.
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
    const QWidget& m_window;
    std::map<int, QWidget*> m_controls;
};

}  // namespace varnis
