#include "ui/qt/FormControls.h"

#include "ui/core/FormTable.h"
#include "ui/qt/FormButtons.h"

#include <QComboBox>
#include <QLineEdit>

namespace varnis {

void FormControls::Add(int nId, QWidget* pControl)
{
    m_controls.emplace(nId, pControl);
}

QWidget* FormControls::Control(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QLineEdit* FormControls::Edit(int nId) const
{
    return static_cast<QLineEdit*>(Control(nId));
}

QComboBox* FormControls::List(int nId) const
{
    return static_cast<QComboBox*>(Control(nId));
}

int FormControls::IdOf(const QWidget* pControl) const
{
    for (const auto& [nId, pWidget] : m_controls) {
        if (pWidget == pControl)
            return nId;
    }
    return 0;
}

void FormControls::Enable(int nId, bool bEnable)
{
    // Qt hands the focus of a control it disables to the next Tab stop itself.
    Control(nId)->setEnabled(bEnable);
}

bool FormControls::IsEnabled(int nId) const
{
    return Control(nId)->isEnabled();
}

void FormControls::SetCheck(int nId, bool bChecked)
{
    if (nId == kIdLocking)
        static_cast<FormCheckBox*>(Control(nId))->SetCheckSilently(bChecked);
    else
        static_cast<FormRadioButton*>(Control(nId))->SetCheckSilently(bChecked);
}

bool FormControls::IsChecked(int nId) const
{
    return static_cast<QAbstractButton*>(Control(nId))->isChecked();
}

void FormControls::Select(int nId, int nIndex)
{
    List(nId)->setCurrentIndex(nIndex);
}

int FormControls::Selection(int nId) const
{
    return List(nId)->currentIndex();
}

void FormControls::SetText(int nId, std::string_view text)
{
    QLineEdit* pEdit = Edit(nId);
    if (const int nLimit = LengthLimitOf(nId); nLimit > 0)
        pEdit->setMaxLength(nLimit);
    pEdit->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::string FormControls::Text(int nId) const
{
    return Edit(nId)->text().toStdString();
}

int FormControls::FocusedId() const
{
    return IdOf(m_window.focusWidget());
}

void FormControls::Focus(int nId)
{
    Control(nId)->setFocus(Qt::OtherFocusReason);
}

}  // namespace varnis
