#include "ui/VarnisDlg.h"

#include "config/ChoiceRules.h"
#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"
#include "ui/FormButtons.h"
#include "ui/FormFrame.h"
#include "ui/FormList.h"
#include "ui/HelpDialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <array>
#include <span>

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

// Frames come first so that the controls lie on top of them.
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

// The order the Tab key visits (disabled controls are skipped).
constexpr std::array kTabOrder = {kIdExit, kIdHelp, kIdImpulseInterval, kIdImpulseWidth, kIdMake,
                                  kIdSector, kIdBlock, kIdStartAddress, kIdKey, kIdPortList,
                                  kIdOpenPort, kIdClosePort, kIdEndAddress, kIdPassword, kIdLocking};

// The edit fields' length limits.
constexpr int LengthLimitOf(int nId)
{
    switch (nId) {
    case kIdKey: return kKeyTextLimit;
    case kIdPassword: return kPasswordTextLimit;
    default: return kImpulseTextLimit;
    }
}

// What the controls that the settings' groups enable and disable.
constexpr std::array kSixteenRadios = {kIdMode0, kIdMode1, kIdWiegand, kIdAba, kIdWiegand26, kIdWiegand34,
                                       kIdWiegand42, kIdAba8HTo10D, kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D,
                                       kIdAba4H2HTo8D, kIdKeyA, kIdKeyB, kIdMsbFirst, kIdLsbFirst};

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

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

}  // namespace

VarnisDlg::VarnisDlg(QWidget* pParent)
    : QDialog(pParent),
      m_pDefaultBoxes(std::make_unique<QtMessageBoxes>()),
      m_pBoxes(m_pDefaultBoxes.get()),
      m_errorReporter(m_ownerThread, [this]() -> IMessageBoxes& { return MessageBoxes(); }),
      m_ownerChannel(m_ownerThread, [this](const SerialNotification& n) { OnNotification(n); }),
      m_engine(m_serialPort),
      m_link(*this, m_engine, m_linkState, m_buildState)
{
    m_serialPort.SetErrorReporter(&m_errorReporter);
    for (const int nId : {kReplyTimerId, kProbeTimerId}) {
        auto* pTimer = new QTimer(this);
        pTimer->setTimerType(Qt::PreciseTimer);  // the device's limits are exact
        connect(pTimer, &QTimer::timeout, this, [this, nId]() { m_link.OnLinkTimer(nId); });
        m_timers.emplace(nId, pTimer);
    }
    CreateForm();
    OnInitMainWindow();
}

VarnisDlg::~VarnisDlg()
{
    for (auto& [nId, pTimer] : m_timers)
        pTimer->stop();
    // A notification or error report in flight returns now; the engine's
    // destruction then stops its thread without waiting on this window.
    m_ownerChannel.Close();
    m_errorReporter.Close();
}

void VarnisDlg::SetPortTable(const PortTable& table)
{
    m_serialPort.SetPortTable(table);
}

void VarnisDlg::SetMessageBoxes(IMessageBoxes* pBoxes)
{
    m_pBoxes = pBoxes != nullptr ? pBoxes : m_pDefaultBoxes.get();
}

IMessageBoxes& VarnisDlg::MessageBoxes()
{
    return *m_pBoxes;
}

QWidget* VarnisDlg::Control(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QLineEdit* VarnisDlg::Edit(int nId) const
{
    return static_cast<QLineEdit*>(Control(nId));
}

QComboBox* VarnisDlg::List(int nId) const
{
    return static_cast<QComboBox*>(Control(nId));
}

void VarnisDlg::CreateForm()
{
    setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font(QString::fromUtf8(kDialogFontFamily), kDialogFontPoints);
    setFont(font);
    const DialogUnits units(font);
    setFixedSize(units.ToPixelsX(kFormWidthUnits), units.ToPixelsY(kFormHeightUnits));

    std::array<QButtonGroup*, kGroupCount> groups{};
    std::map<int, QLabel*> labelsOf;
    for (const FormItem& item : kForm) {
        const QString text = QString::fromUtf8(item.m_pszText);
        const QRect rect = units.ToPixels(item.x, item.y, item.w, item.h);
        QWidget* pWidget = nullptr;
        switch (item.m_eKind) {
        case Kind::Frame: {
            pWidget = new FormFrame(text, this);
            pWidget->setGeometry(rect);
            break;
        }
        case Kind::Label: {
            auto* pLabel = new QLabel(text, this);
            pLabel->setTextFormat(Qt::PlainText);
            pLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            FitText(pLabel, rect);
            if (item.m_nBuddy != 0)
                labelsOf.emplace(item.m_nBuddy, pLabel);
            pWidget = pLabel;
            break;
        }
        case Kind::List: {
            auto* pList = new FormList(this);
            FillList(pList, item.m_nId);
            // The form's height includes the opened list.
            const int nClosed = pList->sizeHint().height();
            pList->setGeometry(rect.x(), rect.y() - std::max(0, nClosed - units.ToPixelsY(12)) / 2, rect.width(),
                               nClosed);
            pList->SetOpenHeight(rect.bottom() - pList->geometry().bottom());
            pWidget = pList;
            break;
        }
        case Kind::Button:
        case Kind::DefaultButton: {
            auto* pButton = new QPushButton(text, this);
            pButton->setAutoDefault(true);
            pButton->setDefault(item.m_eKind == Kind::DefaultButton);
            pButton->setGeometry(rect);
            pWidget = pButton;
            break;
        }
        case Kind::Radio: {
            auto* pRadio = new FormRadioButton(text, this);
            QButtonGroup*& pGroup = groups.at(static_cast<std::size_t>(item.m_nGroup));
            if (pGroup == nullptr) {
                pGroup = new QButtonGroup(this);
                pGroup->setExclusive(true);
            }
            pGroup->addButton(pRadio, item.m_nId);
            FitText(pRadio, rect);
            const int nId = item.m_nId;
            connect(pRadio, &FormRadioButton::chosen, this, [this, nId]() { OnClickRule(nId); });
            pWidget = pRadio;
            break;
        }
        case Kind::Check: {
            auto* pCheck = new FormCheckBox(text, this);
            pCheck->setFocusPolicy(Qt::StrongFocus);
            FitText(pCheck, rect);
            pCheck->setAccessibleName(QStringLiteral("Configuration Locking: Enable"));
            connect(pCheck, &FormCheckBox::chosen, this, [this]() { OnClickRule(kIdLocking); });
            pWidget = pCheck;
            break;
        }
        case Kind::Edit: {
            auto* pEdit = new QLineEdit(this);
            pEdit->setFrame(true);
            pEdit->setMaxLength(LengthLimitOf(item.m_nId));
            pEdit->setGeometry(rect);
            pWidget = pEdit;
            break;
        }
        }
        if (item.m_nId != 0) {
            pWidget->setObjectName(QStringLiteral("control%1").arg(item.m_nId));
            m_controls.emplace(item.m_nId, pWidget);
        }
    }

    // Edits and lists are known by their labels.
    for (const auto& [nId, pLabel] : labelsOf) {
        QWidget* pControl = Control(nId);
        pLabel->setBuddy(pControl);
        QString name = pLabel->text();
        while (name.endsWith(u':') || name.endsWith(QChar(0xFF1A)))
            name.chop(1);
        pControl->setAccessibleName(name);
    }
    Edit(kIdImpulseWidth)->setAccessibleDescription(QStringLiteral("*50us (1-255)"));
    Edit(kIdImpulseInterval)->setAccessibleDescription(QStringLiteral("*50us (1-255)"));
    Edit(kIdKey)->setAccessibleDescription(QStringLiteral("(6bytes hexadecimal digits,LSB)"));
    Edit(kIdPassword)->setAccessibleDescription(QStringLiteral("(default as 47150263)"));
    // Two choices read "Enable": their names say which setting they belong to.
    Control(kIdPasswordEnable)->setAccessibleName(QStringLiteral("Password protection: Enable"));
    Control(kIdPasswordDisable)->setAccessibleName(QStringLiteral("Password protection: Disable"));

    for (std::size_t n = 1; n < kTabOrder.size(); ++n)
        QWidget::setTabOrder(Control(kTabOrder.at(n - 1)), Control(kTabOrder.at(n)));

    connect(static_cast<QPushButton*>(Control(kIdExit)), &QPushButton::clicked, this, &QDialog::accept);
    connect(static_cast<QPushButton*>(Control(kIdHelp)), &QPushButton::clicked, this, [this]() { ShowHelpWindow(); });
    connect(static_cast<QPushButton*>(Control(kIdOpenPort)), &QPushButton::clicked, this, [this]() { OnOpenPort(); });
    connect(static_cast<QPushButton*>(Control(kIdClosePort)), &QPushButton::clicked, this,
            [this]() { OnClosePort(); });
    connect(static_cast<QPushButton*>(Control(kIdMake)), &QPushButton::clicked, this, [this]() { OnMake(); });
    List(kIdPortList)->setEnabled(false);
}

void VarnisDlg::OnInitMainWindow()
{
    // 1. Lists filled and length limits given when the form was made.
    // 2. The help item of the window's menu.
    m_pSystemMenu = new QMenu(this);
    QAction* pMinimise = m_pSystemMenu->addAction(QStringLiteral("Minimise"));
    pMinimise->setData(kSysCommandMinimise);
    QAction* pClose = m_pSystemMenu->addAction(QStringLiteral("Close"));
    pClose->setData(kSysCommandClose);
    const QString about = QString::fromUtf8(kAboutMenuText);
    if (!about.isEmpty()) {
        m_pSystemMenu->addSeparator();
        m_pSystemMenu->addAction(about)->setData(kSysCommandAbout);
    }
    connect(m_pSystemMenu, &QMenu::triggered, this,
            [this](QAction* pAction) { OnSysCommand(pAction->data().toUInt()); });
    // 3. The icon.
    m_icon = AppIcon();
    setWindowIcon(m_icon);
    // 4.
    Enable(kIdMake, false);
    for (const int nId : kSixteenRadios)
        Enable(nId, false);
    Enable({kIdDefaultTiming, kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress, kIdKey, kIdUserDefined,
            kIdImpulseInterval},
           false);
    // 5.
    m_settings.m_strImpulseInterval = kDefaultImpulseIntervalText;
    m_settings.m_strImpulseWidth = kDefaultImpulseWidthText;
    m_settings.m_strKey = kDefaultKeyText;
    m_settings.m_strPassword = kDefaultPasswordText;
    ShowFormTexts();
    // 6.
    Enable(kIdImpulseWidth, false);
    // 7.
    List(kIdSector)->setCurrentIndex(0);
    List(kIdBlock)->setCurrentIndex(0);
    List(kIdStartAddress)->setCurrentIndex(0);
    List(kIdEndAddress)->setCurrentIndex(4);
    // 8. Check marks only: no rule runs, the settings block stays all zero.
    for (const int nId : {kIdMode0, kIdWiegand, kIdWiegand26, kIdAba8HTo10D, kIdKeyA, kIdLsbFirst, kIdDefaultTiming})
        SetCheck(nId, true);
    // 9.
    List(kIdPortList)->setCurrentIndex(0);
    // 10.
    Enable(kIdOpenPort, true);
    Enable(kIdClosePort, false);
    // 11. - 13.
    Enable(kIdPassword, false);
    SetCheck(kIdPasswordDisable, true);
    Enable({kIdPasswordEnable, kIdPasswordDisable, kIdLocking}, false);
    // 14.
    Control(kIdExit)->setFocus(Qt::OtherFocusReason);
}

void VarnisDlg::Enable(int nId, bool bEnable)
{
    QWidget* pControl = Control(nId);
    // A focused control that is disabled would hand the focus to the next Tab
    // stop, selecting an edit field's text; the control whose rule runs keeps it.
    if (!bEnable && pControl->isEnabled() && focusWidget() == pControl && m_nRuleId != 0 && m_nRuleId != nId &&
        Control(m_nRuleId)->isEnabled())
        Control(m_nRuleId)->setFocus(Qt::OtherFocusReason);
    pControl->setEnabled(bEnable);
}

void VarnisDlg::MoveFocusToButton(int nToId)
{
    QWidget* pFocus = focusWidget();
    if (pFocus == Control(kIdExit) || pFocus == Control(kIdHelp))
        return;
    Control(nToId)->setFocus(Qt::OtherFocusReason);
}

void VarnisDlg::Enable(std::initializer_list<int> ids, bool bEnable)
{
    for (const int nId : ids)
        Enable(nId, bEnable);
}

void VarnisDlg::SetCheck(int nId, bool bChecked)
{
    if (nId == kIdLocking)
        static_cast<FormCheckBox*>(Control(nId))->SetCheckSilently(bChecked);
    else
        static_cast<FormRadioButton*>(Control(nId))->SetCheckSilently(bChecked);
}

bool VarnisDlg::IsChecked(int nId) const
{
    return static_cast<QAbstractButton*>(Control(nId))->isChecked();
}

void VarnisDlg::CheckAndRun(int nId)
{
    SetCheck(nId, true);
    OnClickRule(nId);
}

void VarnisDlg::ShowFormTexts()
{
    const std::array<std::pair<int, const std::string*>, 4> texts = {{
        {kIdKey, &m_settings.m_strKey},
        {kIdImpulseInterval, &m_settings.m_strImpulseInterval},
        {kIdImpulseWidth, &m_settings.m_strImpulseWidth},
        {kIdPassword, &m_settings.m_strPassword},
    }};
    for (const auto& [nId, pText] : texts) {
        QLineEdit* pEdit = Edit(nId);
        pEdit->setMaxLength(LengthLimitOf(nId));
        pEdit->setText(QString::fromStdString(*pText));
    }
}

void VarnisDlg::ReadFormTexts()
{
    m_settings.m_strKey = Edit(kIdKey)->text().toStdString();
    m_settings.m_strImpulseInterval = Edit(kIdImpulseInterval)->text().toStdString();
    m_settings.m_strImpulseWidth = Edit(kIdImpulseWidth)->text().toStdString();
    m_settings.m_strPassword = Edit(kIdPassword)->text().toStdString();
}

int VarnisDlg::SelectedSector() const
{
    return List(kIdSector)->currentIndex();
}

int VarnisDlg::SelectedBlock() const
{
    return List(kIdBlock)->currentIndex();
}

int VarnisDlg::SelectedStartAddress() const
{
    return List(kIdStartAddress)->currentIndex();
}

int VarnisDlg::SelectedEndAddress() const
{
    return List(kIdEndAddress)->currentIndex();
}

void VarnisDlg::ShowMessage(std::string_view text, std::string_view caption)
{
    m_pBoxes->Message(this, FromUtf8(text), FromUtf8(caption));
}

void VarnisDlg::StartTimer(int nId, int nMilliseconds)
{
    auto it = m_timers.find(nId);
    if (it == m_timers.end()) {
        auto* pTimer = new QTimer(this);
        pTimer->setTimerType(Qt::PreciseTimer);  // the device's limits are exact
        connect(pTimer, &QTimer::timeout, this, [this, nId]() { m_link.OnLinkTimer(nId); });
        it = m_timers.emplace(nId, pTimer).first;
    }
    it->second->start(nMilliseconds);
}

void VarnisDlg::StopTimer(int nId)
{
    const auto it = m_timers.find(nId);
    if (it != m_timers.end())
        it->second->stop();
}

bool VarnisDlg::IsTimerRunning(int nId) const
{
    const auto it = m_timers.find(nId);
    return it != m_timers.end() && it->second->isActive();
}

void VarnisDlg::OnNotification(const SerialNotification& n)
{
    if (n.m_nMessage == SPN_RXCHAR)
        m_link.OnReceivedByte(n.m_nWParam, n.m_nLParam);
    else if (n.m_nMessage == SPN_LINE_LOST)
        m_link.OnLineLost(n.m_nLParam);
}

void VarnisDlg::OnOpenPort()
{
    m_link.OnOpenPort();
}

void VarnisDlg::OnClosePort()
{
    m_link.OnClosePort();
}

void VarnisDlg::OnMake()
{
    m_link.OnMake();
}

void VarnisDlg::OnClickRule(int nId)
{
    const int nOuterRuleId = m_nRuleId;
    m_nRuleId = nId;
    RunClickRule(nId);
    m_nRuleId = nOuterRuleId;
}

void VarnisDlg::RunClickRule(int nId)
{
    SettingsBlock& block = m_buildState.m_settingsBlock;
    const std::initializer_list<int> sectorControls = {kIdSector, kIdBlock, kIdKeyA, kIdKeyB, kIdKey,
                                                       kIdMsbFirst, kIdLsbFirst, kIdStartAddress, kIdEndAddress};
    const std::initializer_list<int> wiegandLengths = {kIdWiegand26, kIdWiegand34, kIdWiegand42};
    const std::initializer_list<int> abaFormats = {kIdAba8HTo10D, kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D,
                                                   kIdAba4H2HTo8D};
    switch (nId) {
    case kIdMode0:
        ChooseOutputMode(m_settings, block, OutputMode::Uid);
        Enable(sectorControls, false);
        break;
    case kIdMode1:
        ChooseOutputMode(m_settings, block, OutputMode::SectorData);
        Enable(sectorControls, true);
        break;
    case kIdWiegand: {
        ReadFormTexts();
        ChooseInterface(m_settings, block, InterfaceKind::Wiegand);
        Enable(wiegandLengths, true);
        Enable({kIdUserDefined, kIdDefaultTiming}, true);
        if (m_settings.m_eImpulseTiming == ImpulseTiming::UserDefined)
            Enable({kIdImpulseWidth, kIdImpulseInterval}, true);
        Enable(abaFormats, false);
        break;
    }
    case kIdAba:
        ReadFormTexts();
        ChooseInterface(m_settings, block, InterfaceKind::Aba);
        Enable(abaFormats, true);
        Enable(wiegandLengths, false);
        Enable({kIdUserDefined, kIdDefaultTiming, kIdImpulseWidth, kIdImpulseInterval}, false);
        break;
    case kIdWiegand26: ChooseWiegandLength(m_settings, block, WiegandLength::Bits26); break;
    case kIdWiegand34: ChooseWiegandLength(m_settings, block, WiegandLength::Bits34); break;
    case kIdWiegand42: ChooseWiegandLength(m_settings, block, WiegandLength::Bits42); break;
    case kIdAba8HTo10D: ChooseAbaFormat(m_settings, block, AbaFormat::H8ToD10); break;
    case kIdAba6HTo8D: ChooseAbaFormat(m_settings, block, AbaFormat::H6ToD8); break;
    case kIdAba6HTo10D: ChooseAbaFormat(m_settings, block, AbaFormat::H6ToD10); break;
    case kIdAba4H2HTo10D: ChooseAbaFormat(m_settings, block, AbaFormat::H4H2ToD10); break;
    case kIdAba4H2HTo8D: ChooseAbaFormat(m_settings, block, AbaFormat::H4H2ToD8); break;
    case kIdKeyA: ChooseKeyType(m_settings, block, KeyType::KeyA); break;
    case kIdKeyB: ChooseKeyType(m_settings, block, KeyType::KeyB); break;
    case kIdMsbFirst: ChooseByteOrder(m_settings, block, ByteOrder::MsbFirst); break;
    case kIdLsbFirst: ChooseByteOrder(m_settings, block, ByteOrder::LsbFirst); break;
    case kIdDefaultTiming:
        ChooseImpulseTiming(m_settings, block, ImpulseTiming::Default);
        Enable({kIdImpulseInterval, kIdImpulseWidth}, false);
        // Only the two impulse texts are shown anew; the key and password
        // fields keep what the user typed.
        Edit(kIdImpulseInterval)->setText(QString::fromStdString(m_settings.m_strImpulseInterval));
        Edit(kIdImpulseWidth)->setText(QString::fromStdString(m_settings.m_strImpulseWidth));
        break;
    case kIdUserDefined:
        ChooseImpulseTiming(m_settings, block, ImpulseTiming::UserDefined);
        Enable({kIdImpulseInterval, kIdImpulseWidth}, true);
        break;
    case kIdPasswordEnable: ChoosePasswordProtection(m_settings, block, true); break;
    case kIdPasswordDisable: ChoosePasswordProtection(m_settings, block, false); break;
    case kIdLocking: OnLockingClicked(); break;
    default: break;
    }
}

void VarnisDlg::OnLockingClicked()
{
    // The check mark has already changed; the flag follows it.
    m_nConfigLocking = IsChecked(kIdLocking) ? 1 : 0;
    m_settings.m_bConfigLocking = m_nConfigLocking != 0;
    if (m_nConfigLocking == 0)
        return;
    const bool bOk = m_pBoxes->Confirm(this, QString::fromUtf8(kLockingConfirmText), FromUtf8(kCaptionWarning));
    if (!bOk) {
        SetCheck(kIdLocking, false);
    }
    // Handlers run inside the box (a new connection resets the form): the
    // flag follows the check mark as it stands now, not as it stood before.
    m_nConfigLocking = IsChecked(kIdLocking) ? 1 : 0;
    m_settings.m_bConfigLocking = m_nConfigLocking != 0;
}

void VarnisDlg::EnterConnectedState()
{
    SettingsBlock& block = m_buildState.m_settingsBlock;
    // 1.
    m_nPortOpen = 1;
    // 2.
    Enable(kIdMake, true);
    for (const int nId : kSixteenRadios)
        Enable(nId, true);
    Enable({kIdDefaultTiming, kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress, kIdKey, kIdImpulseWidth}, true);
    // 3.
    m_settings.m_strImpulseInterval = kDefaultImpulseIntervalText;
    m_settings.m_strImpulseWidth = kDefaultImpulseWidthText;
    m_settings.m_strKey = kDefaultKeyText;
    m_settings.m_strPassword = kDefaultPasswordText;
    ShowFormTexts();
    // 4.
    List(kIdSector)->setCurrentIndex(0);
    List(kIdBlock)->setCurrentIndex(0);
    List(kIdStartAddress)->setCurrentIndex(0);
    List(kIdEndAddress)->setCurrentIndex(4);
    m_settings.m_nSector = 0;
    m_settings.m_nBlock = 0;
    m_settings.m_nStartAddress = 0;
    m_settings.m_nEndAddress = 4;
    // 5. - 11. Each check clears the rest of its group.
    for (const int nId : {kIdMode0, kIdAba8HTo10D, kIdWiegand26, kIdWiegand, kIdKeyA, kIdLsbFirst, kIdDefaultTiming})
        CheckAndRun(nId);
    // 12.
    block.at(13) = 0x28;
    block.at(14) = 0x08;
    block.at(15) = LockingCode(false);
    // 13.
    Enable({kIdPassword, kIdPasswordEnable, kIdPasswordDisable, kIdLocking}, true);
    // 14.
    SetCheck(kIdLocking, false);
    m_nConfigLocking = 0;
    m_settings.m_bConfigLocking = false;
    // 15.
    CheckAndRun(kIdPasswordDisable);
    // 16. "ClosePort" first: the focus moves from "OpenPort" to it before
    // "OpenPort" is disabled, so that it never falls to an edit field.
    Enable(kIdClosePort, m_nPortOpen == 1);
    if (m_nPortOpen == 1)
        MoveFocusToButton(kIdClosePort);
    Enable(kIdOpenPort, m_nPortOpen == 0);
}

void VarnisDlg::EnterDisconnectedState()
{
    // 1. The focus leaves "ClosePort" and the options for "OpenPort" before
    // they are disabled.
    Enable(kIdOpenPort, m_nPortOpen == 0);
    if (m_nPortOpen == 0)
        MoveFocusToButton(kIdOpenPort);
    Enable(kIdClosePort, m_nPortOpen == 1);
    // 2. Values, check marks and selections stay as they are.
    Enable(kIdMake, false);
    for (const int nId : kSixteenRadios)
        Enable(nId, false);
    Enable({kIdDefaultTiming, kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress, kIdKey, kIdUserDefined,
            kIdImpulseInterval, kIdImpulseWidth, kIdPassword, kIdPasswordEnable, kIdPasswordDisable, kIdLocking},
           false);
}

void VarnisDlg::OnSysCommand(unsigned nId)
{
    if ((nId & 0xFFF0U) == kSysCommandAbout) {
        ShowHelpWindow();
        return;
    }
    switch (nId & 0xFFF0U) {
    case kSysCommandMinimise: showMinimized(); break;
    case kSysCommandClose: close(); break;
    default: break;
    }
}

void VarnisDlg::ShowHelpWindow()
{
    HelpDialog help(this);
    help.exec();
}

void VarnisDlg::contextMenuEvent(QContextMenuEvent* pEvent)
{
    m_pSystemMenu->exec(pEvent->globalPos());
}

void VarnisDlg::paintEvent(QPaintEvent* pEvent)
{
    if (!isMinimized()) {
        QDialog::paintEvent(pEvent);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const int nIcon = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const IconPosition pos = MinimisedIconPosition(width(), height(), nIcon, nIcon);
    m_icon.paint(&painter, QRect(pos.m_nX, pos.m_nY, nIcon, nIcon));
}

}  // namespace varnis
