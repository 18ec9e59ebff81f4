// The form's controls by id, and the reading and writing of their values.
#pragma once

#include <map>

class QComboBox;
class QLineEdit;
class QWidget;

namespace varnis {

struct CardSettings;

class FormControls {
public:
    void Add(int nId, QWidget* pControl);
    // The control with a form id, or null.
    QWidget* Control(int nId) const;
    QLineEdit* Edit(int nId) const;
    QComboBox* List(int nId) const;

    // Check marks set here run no rule.
    void SetCheck(int nId, bool bChecked);
    bool IsChecked(int nId) const;
    void Select(int nId, int nIndex);
    int Selection(int nId) const;

    // The four edit-field texts: shown with their length limits, read back.
    void ShowTexts(const CardSettings& settings);
    void ReadTexts(CardSettings& settings) const;
    // The two impulse texts only; the key and password fields keep what the
    // user typed.
    void ShowImpulseTexts(const CardSettings& settings);

private:
    std::map<int, QWidget*> m_controls;
};

}  // namespace varnis
