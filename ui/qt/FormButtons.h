// Radio buttons and check boxes of a form that report a choice made by the
// user: a click (mouse, keyboard), or a toggle by assistive technology, which
// changes the check mark without a click. Check marks set by the program
// report nothing.
//
// A form's radio buttons take the focus by a click or an arrow key but are
// never Tab stops, whatever has been clicked.
#pragma once

#include <QCheckBox>
#include <QRadioButton>

namespace varnis {

class FormRadioButton : public QRadioButton {
    Q_OBJECT
public:
    FormRadioButton(const QString& text, QWidget* pParent);
    // Sets the check mark without reporting a choice.
    void SetCheckSilently(bool bChecked);

signals:
    void chosen();

protected:
    void nextCheckState() override;
    void focusInEvent(QFocusEvent* pEvent) override;

private:
    void OnToggled(bool bChecked);
    bool m_bClickInProgress = false;
    bool m_bSilent = false;
};

class FormCheckBox : public QCheckBox {
    Q_OBJECT
public:
    FormCheckBox(const QString& text, QWidget* pParent);
    void SetCheckSilently(bool bChecked);

signals:
    void chosen();

protected:
    void nextCheckState() override;

private:
    void OnToggled(bool bChecked);
    bool m_bClickInProgress = false;
    bool m_bSilent = false;
};

}  // namespace varnis
