// The window's control-state rules: the start state, the click rule of every
// choice, the locking confirmation and the two connection states.
#include "ui/VarnisDlg.h"

#include "config/ChoiceRules.h"
#include "ui/AppIcon.h"
#include "ui/VarnisDlgPrivate.h"

#include <array>

namespace varnis {

namespace {

// The radio buttons of the output mode, interface, Wiegand length, ABA
// format, key type and byte order groups.
constexpr std::array kSixteenRadios = {kIdMode0,     kIdMode1,      kIdWiegand,      kIdAba,
                                       kIdWiegand26, kIdWiegand34,  kIdWiegand42,    kIdAba8HTo10D,
                                       kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D, kIdAba4H2HTo8D,
                                       kIdKeyA,      kIdKeyB,       kIdMsbFirst,     kIdLsbFirst};

}  // namespace

void VarnisDlg::OnInitMainWindow()
{
    // The lists were filled and the edit fields limited when the form was made.
    CreateSystemMenu();
    m_p->m_icon = AppIcon();
    setWindowIcon(m_p->m_icon);
    // Only "Exit", "Help" and "OpenPort" can be used until a device answers.
    Enable(kIdMake, false);
    for (const int nId : kSixteenRadios)
        Enable(nId, false);
    Enable({kIdDefaultTiming, kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress, kIdKey, kIdUserDefined,
            kIdImpulseInterval},
           false);
    ShowDefaultTexts();
    Enable(kIdImpulseWidth, false);
    SelectDefaultListItems();
    // Check marks only: no rule runs, the settings block stays all zero.
    for (const int nId : {kIdMode0, kIdWiegand, kIdWiegand26, kIdAba8HTo10D, kIdKeyA, kIdLsbFirst, kIdDefaultTiming})
        m_p->m_controls.SetCheck(nId, true);
    m_p->m_controls.Select(kIdPortList, 0);
    Enable(kIdOpenPort, true);
    Enable(kIdClosePort, false);
    // Password protection off, and the security options disabled with it.
    Enable(kIdPassword, false);
    m_p->m_controls.SetCheck(kIdPasswordDisable, true);
    Enable({kIdPasswordEnable, kIdPasswordDisable, kIdLocking}, false);
    m_p->m_controls.Control(kIdExit)->setFocus(Qt::OtherFocusReason);
}

void VarnisDlg::ShowDefaultTexts()
{
    CardSettings& settings = m_p->m_settings;
    settings.m_strImpulseInterval = kDefaultImpulseIntervalText;
    settings.m_strImpulseWidth = kDefaultImpulseWidthText;
    settings.m_strKey = kDefaultKeyText;
    settings.m_strPassword = kDefaultPasswordText;
    ShowFormTexts();
}

void VarnisDlg::SelectDefaultListItems()
{
    FormControls& controls = m_p->m_controls;
    controls.Select(kIdSector, 0);
    controls.Select(kIdBlock, 0);
    controls.Select(kIdStartAddress, 0);
    controls.Select(kIdEndAddress, 4);
}

void VarnisDlg::Enable(int nId, bool bEnable)
{
    const FormControls& controls = m_p->m_controls;
    const int nRuleId = m_p->m_nRuleId;
    QWidget* pControl = controls.Control(nId);
    // A focused control that is disabled would hand the focus to the next Tab
    // stop, selecting an edit field's text; the control whose rule runs keeps it.
    if (!bEnable && pControl->isEnabled() && focusWidget() == pControl && nRuleId != 0 && nRuleId != nId &&
        controls.Control(nRuleId)->isEnabled())
        controls.Control(nRuleId)->setFocus(Qt::OtherFocusReason);
    pControl->setEnabled(bEnable);
}

void VarnisDlg::Enable(std::initializer_list<int> ids, bool bEnable)
{
    for (const int nId : ids)
        Enable(nId, bEnable);
}

void VarnisDlg::MoveFocusToButton(int nToId)
{
    const FormControls& controls = m_p->m_controls;
    QWidget* pFocus = focusWidget();
    if (pFocus == controls.Control(kIdExit) || pFocus == controls.Control(kIdHelp))
        return;
    controls.Control(nToId)->setFocus(Qt::OtherFocusReason);
}

void VarnisDlg::CheckAndRun(int nId)
{
    m_p->m_controls.SetCheck(nId, true);
    OnClickRule(nId);
}

void VarnisDlg::OnClickRule(int nId)
{
    const int nOuterRuleId = m_p->m_nRuleId;
    m_p->m_nRuleId = nId;
    RunClickRule(nId);
    m_p->m_nRuleId = nOuterRuleId;
}

void VarnisDlg::RunClickRule(int nId)
{
    CardSettings& settings = m_p->m_settings;
    SettingsBlock& block = m_p->m_buildState.m_settingsBlock;
    const std::initializer_list<int> sectorControls = {kIdSector,   kIdBlock,    kIdKeyA,         kIdKeyB,      kIdKey,
                                                       kIdMsbFirst, kIdLsbFirst, kIdStartAddress, kIdEndAddress};
    const std::initializer_list<int> wiegandLengths = {kIdWiegand26, kIdWiegand34, kIdWiegand42};
    const std::initializer_list<int> abaFormats = {kIdAba8HTo10D, kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D,
                                                   kIdAba4H2HTo8D};
    switch (nId) {
    case kIdMode0:
        ChooseOutputMode(settings, block, OutputMode::Uid);
        Enable(sectorControls, false);
        break;
    case kIdMode1:
        ChooseOutputMode(settings, block, OutputMode::SectorData);
        Enable(sectorControls, true);
        break;
    case kIdWiegand: {
        ReadFormTexts();
        ChooseInterface(settings, block, InterfaceKind::Wiegand);
        Enable(wiegandLengths, true);
        Enable({kIdUserDefined, kIdDefaultTiming}, true);
        if (settings.m_eImpulseTiming == ImpulseTiming::UserDefined)
            Enable({kIdImpulseWidth, kIdImpulseInterval}, true);
        Enable(abaFormats, false);
        break;
    }
    case kIdAba:
        ReadFormTexts();
        ChooseInterface(settings, block, InterfaceKind::Aba);
        Enable(abaFormats, true);
        Enable(wiegandLengths, false);
        Enable({kIdUserDefined, kIdDefaultTiming, kIdImpulseWidth, kIdImpulseInterval}, false);
        break;
    case kIdWiegand26: ChooseWiegandLength(settings, block, WiegandLength::Bits26); break;
    case kIdWiegand34: ChooseWiegandLength(settings, block, WiegandLength::Bits34); break;
    case kIdWiegand42: ChooseWiegandLength(settings, block, WiegandLength::Bits42); break;
    case kIdAba8HTo10D: ChooseAbaFormat(settings, block, AbaFormat::H8ToD10); break;
    case kIdAba6HTo8D: ChooseAbaFormat(settings, block, AbaFormat::H6ToD8); break;
    case kIdAba6HTo10D: ChooseAbaFormat(settings, block, AbaFormat::H6ToD10); break;
    case kIdAba4H2HTo10D: ChooseAbaFormat(settings, block, AbaFormat::H4H2ToD10); break;
    case kIdAba4H2HTo8D: ChooseAbaFormat(settings, block, AbaFormat::H4H2ToD8); break;
    case kIdKeyA: ChooseKeyType(settings, block, KeyType::KeyA); break;
    case kIdKeyB: ChooseKeyType(settings, block, KeyType::KeyB); break;
    case kIdMsbFirst: ChooseByteOrder(settings, block, ByteOrder::MsbFirst); break;
    case kIdLsbFirst: ChooseByteOrder(settings, block, ByteOrder::LsbFirst); break;
    case kIdDefaultTiming:
        ChooseImpulseTiming(settings, block, ImpulseTiming::Default);
        Enable({kIdImpulseInterval, kIdImpulseWidth}, false);
        m_p->m_controls.ShowImpulseTexts(settings);
        break;
    case kIdUserDefined:
        ChooseImpulseTiming(settings, block, ImpulseTiming::UserDefined);
        Enable({kIdImpulseInterval, kIdImpulseWidth}, true);
        break;
    case kIdPasswordEnable: ChoosePasswordProtection(settings, block, true); break;
    case kIdPasswordDisable: ChoosePasswordProtection(settings, block, false); break;
    case kIdLocking: OnLockingClicked(); break;
    default: break;
    }
}

void VarnisDlg::TakeLockingFromCheckMark()
{
    m_p->m_nConfigLocking = m_p->m_controls.IsChecked(kIdLocking) ? 1 : 0;
    m_p->m_settings.m_bConfigLocking = m_p->m_nConfigLocking != 0;
}

void VarnisDlg::OnLockingClicked()
{
    // The check mark has already changed; the flag follows it.
    TakeLockingFromCheckMark();
    if (m_p->m_nConfigLocking == 0)
        return;
    const bool bOk = m_p->m_pBoxes->Confirm(this, QString::fromUtf8(kLockingConfirmText), FromUtf8(kCaptionWarning));
    if (!bOk)
        m_p->m_controls.SetCheck(kIdLocking, false);
    // Handlers run inside the box (a new connection resets the form): the
    // flag follows the check mark as it stands now, not as it stood before.
    TakeLockingFromCheckMark();
}

void VarnisDlg::EnterConnectedState()
{
    CardSettings& settings = m_p->m_settings;
    SettingsBlock& block = m_p->m_buildState.m_settingsBlock;
    m_p->m_nPortOpen = 1;
    Enable(kIdMake, true);
    for (const int nId : kSixteenRadios)
        Enable(nId, true);
    Enable({kIdDefaultTiming, kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress, kIdKey, kIdImpulseWidth}, true);
    ShowDefaultTexts();
    SelectDefaultListItems();
    settings.m_nSector = 0;
    settings.m_nBlock = 0;
    settings.m_nStartAddress = 0;
    settings.m_nEndAddress = 4;
    // Every choice back to its default through its own rule; each check
    // clears the rest of its group. The ABA format goes before the interface,
    // so that byte 1 ends with the Wiegand length's code.
    for (const int nId : {kIdMode0, kIdAba8HTo10D, kIdWiegand26, kIdWiegand, kIdKeyA, kIdLsbFirst, kIdDefaultTiming})
        CheckAndRun(nId);
    block.at(kByteImpulseInterval) = kDefaultImpulseInterval;
    block.at(kByteImpulseWidth) = kDefaultImpulseWidth;
    block.at(kByteLocking) = LockingCode(false);
    // The security options: locking off, password protection off.
    Enable({kIdPassword, kIdPasswordEnable, kIdPasswordDisable, kIdLocking}, true);
    m_p->m_controls.SetCheck(kIdLocking, false);
    m_p->m_nConfigLocking = 0;
    settings.m_bConfigLocking = false;
    CheckAndRun(kIdPasswordDisable);
    // "ClosePort" first: the focus moves from "OpenPort" to it before
    // "OpenPort" is disabled, so that it never falls to an edit field.
    Enable(kIdClosePort, m_p->m_nPortOpen == 1);
    if (m_p->m_nPortOpen == 1)
        MoveFocusToButton(kIdClosePort);
    Enable(kIdOpenPort, m_p->m_nPortOpen == 0);
}

void VarnisDlg::EnterDisconnectedState()
{
    // The focus leaves "ClosePort" and the options for "OpenPort" before
    // they are disabled.
    Enable(kIdOpenPort, m_p->m_nPortOpen == 0);
    if (m_p->m_nPortOpen == 0)
        MoveFocusToButton(kIdOpenPort);
    Enable(kIdClosePort, m_p->m_nPortOpen == 1);
    // Every option disabled; values, check marks and selections stay as they are.
    Enable(kIdMake, false);
    for (const int nId : kSixteenRadios)
        Enable(nId, false);
    Enable({kIdDefaultTiming, kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress, kIdKey, kIdUserDefined,
            kIdImpulseInterval, kIdImpulseWidth, kIdPassword, kIdPasswordEnable, kIdPasswordDisable, kIdLocking},
           false);
}

}  // namespace varnis
