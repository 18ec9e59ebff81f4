#include "ui/FormControls.h"

#include "config/CardSettings.h"
#include "ui/FormButtons.h"
#include "ui/FormIds.h"
#include "ui/FormLayout.h"

#include <QComboBox>
#include <QLineEdit>

#include <array>
#include <string>
#include <utility>

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

void FormControls::ShowTexts(const CardSettings& settings)
{
    const std::array<std::pair<int, const std::string*>, 4> texts = {{
        {kIdKey, &settings.m_strKey},
        {kIdImpulseInterval, &settings.m_strImpulseInterval},
        {kIdImpulseWidth, &settings.m_strImpulseWidth},
        {kIdPassword, &settings.m_strPassword},
    }};
    for (const auto& [nId, pText] : texts) {
        QLineEdit* pEdit = Edit(nId);
        pEdit->setMaxLength(LengthLimitOf(nId));
        pEdit->setText(QString::fromStdString(*pText));
    }
}

void FormControls::ReadTexts(CardSettings& settings) const
{
    settings.m_strKey = Edit(kIdKey)->text().toStdString();
    settings.m_strImpulseInterval = Edit(kIdImpulseInterval)->text().toStdString();
    settings.m_strImpulseWidth = Edit(kIdImpulseWidth)->text().toStdString();
    settings.m_strPassword = Edit(kIdPassword)->text().toStdString();
}

void FormControls::ShowImpulseTexts(const CardSettings& settings)
{
    Edit(kIdImpulseInterval)->setText(QString::fromStdString(settings.m_strImpulseInterval));
    Edit(kIdImpulseWidth)->setText(QString::fromStdString(settings.m_strImpulseWidth));
}

}  // namespace varnis
