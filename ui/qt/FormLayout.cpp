#include "ui/qt/FormLayout.h"

#include "config/CardSettings.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/FormAccessible.h"
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
#include <string_view>
#include <vector>

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

bool Contains(const FormItem& outer, const FormItem& inner)
{
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// A label of its own, without a control it names, that ends in a colon: the
// caption of what follows it in its frame.
bool IsCaptionLabel(const FormItem& item)
{
    const std::string_view text = item.m_pszText;
    return item.m_eKind == ControlKind::Label && item.m_nBuddy == 0 && (text.ends_with(":") || text.ends_with("："));
}

std::string WithoutColon(std::string_view text)
{
    for (const std::string_view colon : {std::string_view(":"), std::string_view("：")}) {
        if (text.ends_with(colon))
            text.remove_suffix(colon.size());
    }
    return std::string(text);
}

// What a radio group is called: the caption of the smallest frame around
// it; in a frame without a caption, the caption label inside it, or else the
// caption of the frame this one continues (the one its top edge runs through).
struct GroupCaption {
    std::string m_strName;
    const FormItem* m_pLabel = nullptr;
};

GroupCaption CaptionOfGroup(int nGroup)
{
    const std::vector<int> members = GroupMembers(nGroup);
    const FormItem* pFrame = nullptr;
    for (const FormItem& item : MainFormItems()) {
        if (item.m_eKind == ControlKind::Frame && Contains(item, *FindFormItem(members.front())) &&
            (pFrame == nullptr || item.w * item.h < pFrame->w * pFrame->h))
            pFrame = &item;
    }
    if (pFrame == nullptr)
        return {};
    if (*pFrame->m_pszText != '\0')
        return {pFrame->m_pszText};
    for (const FormItem& item : MainFormItems()) {
        if (IsCaptionLabel(item) && Contains(*pFrame, item))
            return {WithoutColon(item.m_pszText), &item};
    }
    for (const FormItem& item : MainFormItems()) {
        if (item.m_eKind == ControlKind::Frame && *item.m_pszText != '\0' && item.x <= pFrame->x &&
            item.y < pFrame->y && pFrame->y < item.y + item.h)
            return {item.m_pszText};
    }
    return {};
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

    // Fits each radio group's container to its buttons, and ties the notes
    // and group captions to what they describe.
    void Finish(const FormControls& controls)
    {
        for (std::size_t nGroup = 0; nGroup < m_radioGroups.size(); ++nGroup) {
            FormRadioGroup* pGroup = m_radioGroups[nGroup];
            if (pGroup == nullptr)
                continue;
            QRect bounds;
            for (QWidget* pRadio : pGroup->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                bounds |= pRadio->geometry();
            for (QWidget* pRadio : pGroup->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                pRadio->move(pRadio->pos() - bounds.topLeft());
            pGroup->setGeometry(bounds);
            const GroupCaption caption = CaptionOfGroup(static_cast<int>(nGroup));
            if (const auto it = m_captions.find(caption.m_pLabel); it != m_captions.end())
                it->second->setBuddy(pGroup);
        }
        TieNotes(controls);
    }

private:
    // A note describes the controls whose description holds its text; a note
    // that the form shows more than once, only the nearest such control
    // before it.
    void TieNotes(const FormControls& controls)
    {
        for (std::size_t nNote = 0; nNote < m_notes.size(); ++nNote) {
            const auto& [pNoteItem, pNote] = m_notes[nNote];
            const std::string_view text = pNoteItem->m_pszText;
            const bool bRepeated = std::count_if(m_notes.begin(), m_notes.end(), [text](const auto& note) {
                                       return text == note.first->m_pszText;
                                   }) > 1;
            std::vector<int> described;
            for (const FormItem& item : MainFormItems()) {
                if (bRepeated && &item == pNoteItem)
                    break;
                if (item.m_nId != 0 && AccessibleDescriptionOf(item.m_nId).find(text) != std::string::npos)
                    described.push_back(item.m_nId);
            }
            if (bRepeated && described.size() > 1)
                described.erase(described.begin(), described.end() - 1);
            for (const int nId : described)
                pNote->Describe(controls.Control(nId));
        }
    }

    QWidget* CreateLabel(const FormItem& item, const QString& text, const QRect& rect)
    {
        QLabel* pLabel = nullptr;
        if (item.m_nBuddy != 0) {
            pLabel = new QLabel(text, &m_dlg);
        } else if (IsCaptionLabel(item)) {
            pLabel = new QLabel(text, &m_dlg);
            m_captions.emplace(&item, pLabel);
        } else {
            auto* pNote = new FormNote(text, &m_dlg);
            m_notes.emplace_back(&item, pNote);
            pLabel = pNote;
        }
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
        // The group's container lies where its first button would, over the
        // whole form until Finish() fits it to its buttons.
        FormRadioGroup*& pContainer = m_radioGroups.at(static_cast<std::size_t>(item.m_nGroup));
        if (pContainer == nullptr) {
            pContainer = new FormRadioGroup(QString::fromStdString(CaptionOfGroup(item.m_nGroup).m_strName), &m_dlg);
            pContainer->setGeometry(m_dlg.rect());
        }
        auto* pRadio = new FormRadioButton(text, pContainer);
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
    std::array<FormRadioGroup*, kGroupCount> m_radioGroups{};
    std::map<int, QLabel*> m_labelsOf;
    std::map<const FormItem*, QLabel*> m_captions;
    std::vector<std::pair<const FormItem*, FormNote*>> m_notes;
};

// Edits and lists are known by their labels; the notes beside them describe
// them.
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
    InstallFormAccessibility();
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
    factory.Finish(controls);
    const std::span<const int> tabOrder = MainTabOrder();
    for (std::size_t n = 1; n < tabOrder.size(); ++n)
        QWidget::setTabOrder(controls.Control(tabOrder[n - 1]), controls.Control(tabOrder[n]));
    controls.List(kIdPortList)->setEnabled(false);
}

}  // namespace varnis
