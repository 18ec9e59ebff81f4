#include "ui/qt/FormLayout.h"

#include "config/CardSettings.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/FormButtons.h"
#include "ui/qt/FormControls.h"
#include "ui/qt/FormFrame.h"
#include "ui/core/FormTable.h"
#include "ui/qt/FormList.h"
#include "ui/qt/VarnisDlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace varnis {

namespace {

void FillList(QComboBox* pList, int nId)
{
    for (const std::string& item : ListItems(nId))
        pList->addItem(QString::fromStdString(item));
}

// Widens a text control whose text would otherwise be cut off, and gives it
// at least the height its text needs, centred on the form's place for it.
void FitText(QWidget* pWidget, QRect rect)
{
    const QSize hint = pWidget->sizeHint();
    if (hint.width() > rect.width())
        rect.setWidth(hint.width());
    if (hint.height() > rect.height()) {
        const int nGrow = hint.height() - rect.height();
        rect.adjust(0, -nGrow / 2, 0, nGrow - nGrow / 2);
    }
    pWidget->setGeometry(rect);
}

// Makes the widgets of the table's entries on one form.
class FormFactory {
public:
    FormFactory(QDialog& dlg, const DialogUnits& units, const std::function<void(int)>& onChoice)
        : m_dlg(dlg), m_units(units), m_onChoice(onChoice)
    {
    }

    QWidget* Create(const FormItem& item)
    {
        const QString text = QString::fromUtf8(item.m_pszText);
        const QRect rect = m_units.ToPixels(item.x, item.y, item.w, item.h);
        switch (item.m_eKind) {
        case ControlKind::Frame: {
            auto* pFrame = new FormFrame(text, &m_dlg);
            pFrame->setGeometry(rect);
            return pFrame;
        }
        case ControlKind::Label: return CreateLabel(item, text, rect);
        case ControlKind::List: return CreateList(item, rect);
        case ControlKind::Button:
        case ControlKind::DefaultButton: {
            auto* pButton = new QPushButton(text, &m_dlg);
            pButton->setAutoDefault(true);
            pButton->setDefault(item.m_eKind == ControlKind::DefaultButton);
            pButton->setGeometry(rect);
            return pButton;
        }
        case ControlKind::Radio: return CreateRadio(item, text, rect);
        case ControlKind::Guide: break;  // the help window's field only
        case ControlKind::Check: return CreateCheck(text, rect);
        case ControlKind::Edit: {
            auto* pEdit = new QLineEdit(&m_dlg);
            pEdit->setFrame(true);
            pEdit->setMaxLength(LengthLimitOf(item.m_nId));
            pEdit->setGeometry(rect);
            return pEdit;
        }
        }
        return nullptr;
    }

    // The labels that name a control, by that control's id.
    const std::map<int, QLabel*>& LabelsOf() const { return m_labelsOf; }

private:
    QWidget* CreateLabel(const FormItem& item, const QString& text, const QRect& rect)
    {
        auto* pLabel = new QLabel(text, &m_dlg);
        pLabel->setTextFormat(Qt::PlainText);
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        FitText(pLabel, rect);
        if (item.m_nBuddy != 0)
            m_labelsOf.emplace(item.m_nBuddy, pLabel);
        return pLabel;
    }

    QWidget* CreateList(const FormItem& item, const QRect& rect)
    {
        auto* pList = new FormList(&m_dlg);
        FillList(pList, item.m_nId);
        // The form's height includes the opened list.
        const int nClosed = pList->sizeHint().height();
        pList->setGeometry(rect.x(), rect.y() - std::max(0, nClosed - m_units.ToPixelsY(12)) / 2, rect.width(),
                           nClosed);
        pList->SetOpenHeight(rect.bottom() - pList->geometry().bottom());
        return pList;
    }

    QWidget* CreateRadio(const FormItem& item, const QString& text, const QRect& rect)
    {
        auto* pRadio = new FormRadioButton(text, &m_dlg);
        QButtonGroup*& pGroup = m_groups.at(static_cast<std::size_t>(item.m_nGroup));
        if (pGroup == nullptr) {
            pGroup = new QButtonGroup(&m_dlg);
            pGroup->setExclusive(true);
        }
        pGroup->addButton(pRadio, item.m_nId);
        FitText(pRadio, rect);
        const int nId = item.m_nId;
        QObject::connect(pRadio, &FormRadioButton::chosen, &m_dlg, [onChoice = m_onChoice, nId]() { onChoice(nId); });
        return pRadio;
    }

    QWidget* CreateCheck(const QString& text, const QRect& rect)
    {
        auto* pCheck = new FormCheckBox(text, &m_dlg);
        pCheck->setFocusPolicy(Qt::StrongFocus);
        FitText(pCheck, rect);
        QObject::connect(pCheck, &FormCheckBox::chosen, &m_dlg, [onChoice = m_onChoice]() { onChoice(kIdLocking); });
        return pCheck;
    }

    QDialog& m_dlg;
    const DialogUnits& m_units;
    const std::function<void(int)>& m_onChoice;
    std::array<QButtonGroup*, kGroupCount> m_groups{};
    std::map<int, QLabel*> m_labelsOf;
};

// Edits and lists are known by their labels; the notes beside the edit
// fields describe them.
void NameControls(const FormControls& controls, const std::map<int, QLabel*>& labelsOf)
{
    for (const auto& [nId, pLabel] : labelsOf)
        pLabel->setBuddy(controls.Control(nId));
    for (const FormItem& item : MainFormItems()) {
        if (item.m_nId == 0)
            continue;
        QWidget* pControl = controls.Control(item.m_nId);
        if (const std::string name = AccessibleNameOf(item.m_nId); !name.empty())
            pControl->setAccessibleName(QString::fromStdString(name));
        if (const std::string note = AccessibleDescriptionOf(item.m_nId); !note.empty())
            pControl->setAccessibleDescription(QString::fromStdString(note));
    }
}

}  // namespace

void LayOutForm(QDialog& dlg, FormControls& controls, const std::function<void(int nId)>& onChoice)
{
    dlg.setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    dlg.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font(QString::fromUtf8(kDialogFontFamily), kDialogFontPoints);
    dlg.setFont(font);
    const DialogUnits units(font);
    dlg.setFixedSize(units.ToPixelsX(kFormWidthUnits), units.ToPixelsY(kFormHeightUnits));

    FormFactory factory(dlg, units, onChoice);
    for (const FormItem& item : MainFormItems()) {
        QWidget* pWidget = factory.Create(item);
        if (item.m_nId != 0) {
            pWidget->setObjectName(QStringLiteral("control%1").arg(item.m_nId));
            controls.Add(item.m_nId, pWidget);
        }
    }
    NameControls(controls, factory.LabelsOf());
    const std::span<const int> tabOrder = MainTabOrder();
    for (std::size_t n = 1; n < tabOrder.size(); ++n)
        QWidget::setTabOrder(controls.Control(tabOrder[n - 1]), controls.Control(tabOrder[n]));
    controls.List(kIdPortList)->setEnabled(false);
}

}  // namespace varnis
