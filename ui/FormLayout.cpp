#include "ui/FormLayout.h"

#include "config/CardSettings.h"
#include "ui/DialogUnits.h"
#include "ui/FormButtons.h"
#include "ui/FormControls.h"
#include "ui/FormFrame.h"
#include "ui/FormIds.h"
#include "ui/FormList.h"
#include "ui/VarnisDlg.h"

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

namespace varnis {

namespace {

enum class Kind : std::uint8_t { Frame, Label, List, Button, DefaultButton, Radio, Check, Edit };

// One entry of the form: geometry in dialog units. Labels name the control
// they describe (`m_nBuddy`); radio buttons name their group.
struct FormItem {
    Kind m_eKind;
    int m_nId;  // 0 for labels and frames
    const char* m_pszText;
    int x, y, w, h;
    int m_nBuddy = 0;
    int m_nGroup = 0;
};

enum Group : int {
    kNoGroup = 0,
    kGroupOutputMode,
    kGroupInterface,
    kGroupWiegandLength,
    kGroupAbaFormat,
    kGroupKeyType,
    kGroupByteOrder,
    kGroupImpulseTiming,
    kGroupPasswordProtection,
    kGroupCount
};

// Frames come first so that the controls lie on top of them. One entry a line,
// as the form reads.
// clang-format off
constexpr std::array kForm = {
    FormItem{Kind::Frame, 0, "Port Settings", 1, 1, 213, 25},
    FormItem{Kind::Frame, 0, "", 213, 1, 191, 25},
    FormItem{Kind::Frame, 0, "Output Data Definition", 1, 26, 403, 22},
    FormItem{Kind::Frame, 0, "Interface Selection", 1, 49, 403, 23},
    FormItem{Kind::Frame, 0, "WIEGAND Parameters", 1, 73, 403, 21},
    FormItem{Kind::Frame, 0, "", 1, 89, 403, 22},
    FormItem{Kind::Frame, 0, "ABA Parameters", 1, 112, 403, 23},
    FormItem{Kind::Frame, 0, "Sector Parameters", 1, 136, 109, 54},
    FormItem{Kind::Frame, 0, "", 109, 136, 155, 54},
    FormItem{Kind::Frame, 0, "", 263, 136, 142, 54},
    FormItem{Kind::Frame, 0, "Key Checking", 1, 191, 403, 23},
    FormItem{Kind::Frame, 0, "Configuration Security", 1, 216, 217, 45},
    FormItem{Kind::Frame, 0, "Configuration Password", 13, 224, 193, 25},
    FormItem{Kind::Frame, 0, "", 217, 216, 187, 45},
    FormItem{Kind::Frame, 0, "Configuration Locking", 235, 224, 157, 30},
    FormItem{Kind::Frame, 0, "", 1, 260, 217, 27},
    FormItem{Kind::Frame, 0, "", 217, 260, 187, 27},

    FormItem{Kind::Label, 0, "Port:", 16, 12, 21, 8, kIdPortList},
    FormItem{Kind::List, kIdPortList, "", 46, 11, 48, 81},
    FormItem{Kind::Button, kIdOpenPort, "OpenPort", 107, 9, 41, 14},
    FormItem{Kind::Button, kIdClosePort, "ClosePort", 161, 9, 40, 14},
    FormItem{Kind::Button, kIdHelp, "Help", 274, 9, 68, 14},

    FormItem{Kind::Radio, kIdMode0, "Mode0：Output UID number", 31, 35, 136, 10, 0, kGroupOutputMode},
    FormItem{Kind::Radio, kIdMode1, "Mode1：Output sector data after KEY checking", 212, 35, 192, 10, 0, kGroupOutputMode},

    FormItem{Kind::Radio, kIdWiegand, "WIEGAND", 31, 59, 44, 10, 0, kGroupInterface},
    FormItem{Kind::Radio, kIdAba, "ABA", 180, 59, 28, 10, 0, kGroupInterface},

    FormItem{Kind::Radio, kIdWiegand26, "WIEGAND 26 bits", 31, 82, 76, 10, 0, kGroupWiegandLength},
    FormItem{Kind::Radio, kIdWiegand34, "WIEGAND 34 bits", 180, 82, 76, 10, 0, kGroupWiegandLength},
    FormItem{Kind::Radio, kIdWiegand42, "WIEGAND 42 bits", 321, 81, 76, 10, 0, kGroupWiegandLength},

    FormItem{Kind::Radio, kIdDefaultTiming, "Default", 8, 98, 44, 10, 0, kGroupImpulseTiming},
    FormItem{Kind::Radio, kIdUserDefined, "User-defined", 51, 98, 61, 10, 0, kGroupImpulseTiming},
    FormItem{Kind::Label, 0, "ImpulseWidth:", 115, 98, 53, 8, kIdImpulseWidth},
    FormItem{Kind::Edit, kIdImpulseWidth, "", 169, 95, 32, 14},
    FormItem{Kind::Label, 0, "*50us", 201, 97, 21, 8},
    FormItem{Kind::Label, 0, "(1-255)", 221, 97, 29, 8},
    FormItem{Kind::Label, 0, "ImpulseInterval:", 255, 97, 65, 8, kIdImpulseInterval},
    FormItem{Kind::Edit, kIdImpulseInterval, "", 323, 95, 28, 14},
    FormItem{Kind::Label, 0, "*50us", 353, 97, 21, 8},
    FormItem{Kind::Label, 0, "(1-255)", 373, 97, 29, 8},

    FormItem{Kind::Radio, kIdAba6HTo8D, "6H to 8D", 19, 121, 48, 10, 0, kGroupAbaFormat},
    FormItem{Kind::Radio, kIdAba6HTo10D, "6H to 10D", 100, 121, 52, 10, 0, kGroupAbaFormat},
    FormItem{Kind::Radio, kIdAba8HTo10D, "8H to 10D", 180, 121, 52, 10, 0, kGroupAbaFormat},
    FormItem{Kind::Radio, kIdAba4H2HTo8D, "4H+2H to 8D", 256, 121, 60, 10, 0, kGroupAbaFormat},
    FormItem{Kind::Radio, kIdAba4H2HTo10D, "4H+2H to 10D", 327, 121, 64, 10, 0, kGroupAbaFormat},

    FormItem{Kind::Label, 0, "Sector No.：", 6, 153, 48, 8, kIdSector},
    FormItem{Kind::List, kIdSector, "", 54, 150, 48, 70},
    FormItem{Kind::Label, 0, "Block No.：", 9, 171, 44, 8, kIdBlock},
    FormItem{Kind::List, kIdBlock, "", 54, 168, 48, 59},
    FormItem{Kind::Label, 0, "Start address in block:", 115, 146, 93, 8, kIdStartAddress},
    FormItem{Kind::List, kIdStartAddress, "", 210, 143, 42, 78},
    FormItem{Kind::Label, 0, "End address:", 159, 159, 49, 8, kIdEndAddress},
    FormItem{Kind::List, kIdEndAddress, "", 210, 156, 42, 71},
    FormItem{Kind::Label, 0, "(Start address <=End address)", 112, 170, 117, 8},
    FormItem{Kind::Label, 0, "(Length <=5 bytes)", 156, 180, 73, 8},
    FormItem{Kind::Label, 0, "Data Arrangment Order：", 267, 145, 93, 8},
    FormItem{Kind::Radio, kIdLsbFirst, "Least Significant Byte first", 271, 159, 128, 10, 0, kGroupByteOrder},
    FormItem{Kind::Radio, kIdMsbFirst, "Most Significant Byte first", 271, 173, 124, 10, 0, kGroupByteOrder},

    FormItem{Kind::Radio, kIdKeyA, "KEY A", 19, 201, 36, 10, 0, kGroupKeyType},
    FormItem{Kind::Radio, kIdKeyB, "KEY B", 80, 201, 36, 10, 0, kGroupKeyType},
    FormItem{Kind::Label, 0, "KEY:", 142, 202, 17, 8, kIdKey},
    FormItem{Kind::Edit, kIdKey, "", 168, 198, 98, 14},
    FormItem{Kind::Label, 0, "(6bytes hexadecimal digits,LSB)", 272, 200, 125, 8},

    FormItem{Kind::Label, 0, "Password:", 18, 235, 37, 8, kIdPassword},
    FormItem{Kind::Edit, kIdPassword, "", 61, 233, 57, 14},
    FormItem{Kind::Radio, kIdPasswordEnable, "Enable", 122, 235, 36, 10, 0, kGroupPasswordProtection},
    FormItem{Kind::Radio, kIdPasswordDisable, "Disable", 161, 235, 39, 10, 0, kGroupPasswordProtection},
    FormItem{Kind::Label, 0, "(default as 47150263)", 18, 251, 85, 8},
    FormItem{Kind::Check, kIdLocking, "Enable", 294, 237, 40, 10},

    FormItem{Kind::Button, kIdMake, "Make Provin", 62, 268, 87, 14},
    FormItem{Kind::DefaultButton, kIdExit, "Exit", 290, 269, 50, 14},
};
// clang-format on

// The order the Tab key visits (disabled controls are skipped).
constexpr std::array kTabOrder = {kIdExit,     kIdHelp,      kIdImpulseInterval, kIdImpulseWidth, kIdMake,
                                  kIdSector,   kIdBlock,     kIdStartAddress,    kIdKey,          kIdPortList,
                                  kIdOpenPort, kIdClosePort, kIdEndAddress,      kIdPassword,     kIdLocking};


void FillList(QComboBox* pList, int nId)
{
    if (nId == kIdPortList) {
        pList->addItem(QStringLiteral("AUTO"));
        for (int n = 1; n <= 10; ++n)
            pList->addItem(QStringLiteral("COM%1").arg(n));
        return;
    }
    int nLast = 15;
    if (nId == kIdBlock)
        nLast = 3;
    else if (nId == kIdStartAddress)
        nLast = 13;
    for (int n = 0; n <= nLast; ++n)
        pList->addItem(QString::number(n));
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
        case Kind::Frame: {
            auto* pFrame = new FormFrame(text, &m_dlg);
            pFrame->setGeometry(rect);
            return pFrame;
        }
        case Kind::Label: return CreateLabel(item, text, rect);
        case Kind::List: return CreateList(item, rect);
        case Kind::Button:
        case Kind::DefaultButton: {
            auto* pButton = new QPushButton(text, &m_dlg);
            pButton->setAutoDefault(true);
            pButton->setDefault(item.m_eKind == Kind::DefaultButton);
            pButton->setGeometry(rect);
            return pButton;
        }
        case Kind::Radio: return CreateRadio(item, text, rect);
        case Kind::Check: return CreateCheck(text, rect);
        case Kind::Edit: {
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
        pCheck->setAccessibleName(QStringLiteral("Configuration Locking: Enable"));
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
    for (const auto& [nId, pLabel] : labelsOf) {
        QWidget* pControl = controls.Control(nId);
        pLabel->setBuddy(pControl);
        QString name = pLabel->text();
        while (name.endsWith(u':') || name.endsWith(QChar(0xFF1A)))
            name.chop(1);
        pControl->setAccessibleName(name);
    }
    controls.Edit(kIdImpulseWidth)->setAccessibleDescription(QStringLiteral("*50us (1-255)"));
    controls.Edit(kIdImpulseInterval)->setAccessibleDescription(QStringLiteral("*50us (1-255)"));
    controls.Edit(kIdKey)->setAccessibleDescription(QStringLiteral("(6bytes hexadecimal digits,LSB)"));
    controls.Edit(kIdPassword)->setAccessibleDescription(QStringLiteral("(default as 47150263)"));
    // Two choices read "Enable": their names say which setting they belong to.
    controls.Control(kIdPasswordEnable)->setAccessibleName(QStringLiteral("Password protection: Enable"));
    controls.Control(kIdPasswordDisable)->setAccessibleName(QStringLiteral("Password protection: Disable"));
}

}  // namespace

int LengthLimitOf(int nId)
{
    switch (nId) {
    case kIdKey: return kKeyTextLimit;
    case kIdPassword: return kPasswordTextLimit;
    default: return kImpulseTextLimit;
    }
}

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
    for (const FormItem& item : kForm) {
        QWidget* pWidget = factory.Create(item);
        if (item.m_nId != 0) {
            pWidget->setObjectName(QStringLiteral("control%1").arg(item.m_nId));
            controls.Add(item.m_nId, pWidget);
        }
    }
    NameControls(controls, factory.LabelsOf());
    for (std::size_t n = 1; n < kTabOrder.size(); ++n)
        QWidget::setTabOrder(controls.Control(kTabOrder.at(n - 1)), controls.Control(kTabOrder.at(n)));
    controls.List(kIdPortList)->setEnabled(false);
}

}  // namespace varnis
