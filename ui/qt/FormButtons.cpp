#include "ui/qt/FormButtons.h"

#include <QButtonGroup>

namespace varnis {

// A click runs nextCheckState() (unless it meets an already checked radio
// button), then emits toggled() and clicked(): the choice is reported once, on
// clicked(). A toggle() from assistive technology emits toggled() alone: the
// choice is reported there. A radio button that loses its check mark because
// another one was chosen reports nothing.

FormRadioButton::FormRadioButton(const QString& text, QWidget* pParent) : QRadioButton(text, pParent)
{
    // Exclusive within its button group (which decides), and known as a
    // radio button to assistive technology, which reads this flag.
    setAutoExclusive(true);
    setFocusPolicy(Qt::ClickFocus);
    connect(this, &QAbstractButton::clicked, this, [this]() {
        m_bClickInProgress = false;
        emit chosen();
    });
    connect(this, &QAbstractButton::toggled, this, &FormRadioButton::OnToggled);
}

void FormRadioButton::SetCheckSilently(bool bChecked)
{
    const bool bWasSilent = m_bSilent;
    m_bSilent = true;
    if (!bChecked && group() != nullptr && group()->exclusive() && isChecked()) {
        // An exclusive group refuses to clear its checked button directly.
        group()->setExclusive(false);
        setChecked(false);
        group()->setExclusive(true);
    } else {
        setChecked(bChecked);
    }
    m_bSilent = bWasSilent;
}

void FormRadioButton::nextCheckState()
{
    // The group also calls this on the button that loses its check mark to
    // the clicked one; no click of its own follows there.
    m_bClickInProgress = !isChecked();
    QRadioButton::nextCheckState();
}

void FormRadioButton::focusInEvent(QFocusEvent* pEvent)
{
    // The base class makes the focused button of a group its Tab stop.
    QRadioButton::focusInEvent(pEvent);
    if (group() == nullptr) {
        setFocusPolicy(Qt::ClickFocus);
        return;
    }
    for (QAbstractButton* pButton : group()->buttons())
        pButton->setFocusPolicy(Qt::ClickFocus);
}

void FormRadioButton::OnToggled(bool bChecked)
{
    if (m_bClickInProgress || m_bSilent || !bChecked)
        return;
    emit chosen();
}

FormCheckBox::FormCheckBox(const QString& text, QWidget* pParent) : QCheckBox(text, pParent)
{
    connect(this, &QAbstractButton::clicked, this, [this]() {
        m_bClickInProgress = false;
        emit chosen();
    });
    connect(this, &QAbstractButton::toggled, this, &FormCheckBox::OnToggled);
}

void FormCheckBox::SetCheckSilently(bool bChecked)
{
    const bool bWasSilent = m_bSilent;
    m_bSilent = true;
    setChecked(bChecked);
    m_bSilent = bWasSilent;
}

void FormCheckBox::nextCheckState()
{
    m_bClickInProgress = true;
    QCheckBox::nextCheckState();
}

void FormCheckBox::OnToggled(bool /*bChecked*/)
{
    if (m_bClickInProgress || m_bSilent)
        return;
    emit chosen();
}

}  // namespace varnis
