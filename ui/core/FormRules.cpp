// The form's rules: the start state, the click rules, the locking
// confirmation and the two connection states.
#include "ui/core/FormRules.h"

#include "config/ChoiceRules.h"
#include "ui/core/FormTable.h"

#include <array>
#include <string>
#include <utility>

namespace varnis {

namespace {

// The radio buttons of the output mode, interface, Wiegand length, ABA
// format, key type and byte order groups.
constexpr std::array kSixteenRadios = {kIdMode0,     kIdMode1,      kIdWiegand,      kIdAba,
                                       kIdWiegand26, kIdWiegand34,  kIdWiegand42,    kIdAba8HTo10D,
                                       kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D, kIdAba4H2HTo8D,
                                       kIdKeyA,      kIdKeyB,       kIdMsbFirst,     kIdLsbFirst};

}  // namespace

FormRules::FormRules(IDialogSurface& surface, IConfirmation& confirmation, SettingsBlock& block)
    : m_surface(surface), m_confirmation(confirmation), m_block(block)
{
}

void FormRules::ShowStartState()
{
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
        m_surface.SetCheck(nId, true);
    m_surface.Select(kIdPortList, 0);
    Enable(kIdOpenPort, true);
    Enable(kIdClosePort, false);
    // Password protection off, and the security options disabled with it.
    Enable(kIdPassword, false);
    m_surface.SetCheck(kIdPasswordDisable, true);
    Enable({kIdPasswordEnable, kIdPasswordDisable, kIdLocking}, false);
    m_surface.Focus(kIdExit);
}

void FormRules::ShowFormTexts()
{
    m_surface.SetText(kIdKey, m_settings.m_strKey);
    m_surface.SetText(kIdImpulseInterval, m_settings.m_strImpulseInterval);
    m_surface.SetText(kIdImpulseWidth, m_settings.m_strImpulseWidth);
    m_surface.SetText(kIdPassword, m_settings.m_strPassword);
}

void FormRules::ReadFormTexts()
{
    m_settings.m_strKey = m_surface.Text(kIdKey);
    m_settings.m_strImpulseInterval = m_surface.Text(kIdImpulseInterval);
    m_settings.m_strImpulseWidth = m_surface.Text(kIdImpulseWidth);
    m_settings.m_strPassword = m_surface.Text(kIdPassword);
}

void FormRules::ShowDefaultTexts()
{
    m_settings.m_strImpulseInterval = kDefaultImpulseIntervalText;
    m_settings.m_strImpulseWidth = kDefaultImpulseWidthText;
    m_settings.m_strKey = kDefaultKeyText;
    m_settings.m_strPassword = kDefaultPasswordText;
    ShowFormTexts();
}

void FormRules::SelectDefaultListItems()
{
    m_surface.Select(kIdSector, 0);
    m_surface.Select(kIdBlock, 0);
    m_surface.Select(kIdStartAddress, 0);
    m_surface.Select(kIdEndAddress, 4);
}

void FormRules::Enable(int nId, bool bEnable)
{
    // A focused control that is disabled hands the focus to the next Tab
    // stop, which would select an edit field's text: the control whose rule
    // runs keeps it.
    if (!bEnable && m_surface.IsEnabled(nId) && m_surface.FocusedId() == nId && m_nRuleId != 0 && m_nRuleId != nId &&
        m_surface.IsEnabled(m_nRuleId))
        m_surface.Focus(m_nRuleId);
    m_surface.Enable(nId, bEnable);
}

void FormRules::Enable(std::initializer_list<int> ids, bool bEnable)
{
    for (const int nId : ids)
        Enable(nId, bEnable);
}

void FormRules::MoveFocusToButton(int nToId)
{
    const int nFocus = m_surface.FocusedId();
    if (nFocus == kIdExit || nFocus == kIdHelp)
        return;
    m_surface.Focus(nToId);
}

void FormRules::CheckAndRun(int nId)
{
    if (const FormItem* pItem = FindFormItem(nId); pItem != nullptr && pItem->m_eKind == ControlKind::Radio) {
        m_surface.SetCheck(nId, true);
        for (const int nOther : GroupMembers(pItem->m_nGroup)) {
            if (nOther != nId)
                m_surface.SetCheck(nOther, false);
        }
    }
    OnClickRule(nId);
}

void FormRules::OnClickRule(int nId)
{
    const int nOuterRuleId = std::exchange(m_nRuleId, nId);
    RunClickRule(nId);
    m_nRuleId = nOuterRuleId;
}

void FormRules::RunClickRule(int nId)
{
    CardSettings& settings = m_settings;
    SettingsBlock& block = m_block;
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
        m_surface.SetText(kIdImpulseInterval, settings.m_strImpulseInterval);
        m_surface.SetText(kIdImpulseWidth, settings.m_strImpulseWidth);
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

void FormRules::TakeLockingFromCheckMark()
{
    m_nConfigLocking = m_surface.IsChecked(kIdLocking) ? 1 : 0;
    m_settings.m_bConfigLocking = m_nConfigLocking != 0;
}

void FormRules::OnLockingClicked()
{
    // The check mark has already changed; the flag follows it.
    TakeLockingFromCheckMark();
    if (m_nConfigLocking == 0)
        return;
    const bool bOk = m_confirmation.Confirm(kLockingConfirmText, kCaptionWarning);
    if (!bOk)
        m_surface.SetCheck(kIdLocking, false);
    // Handlers run inside the box (a new connection resets the form): the
    // flag follows the check mark as it stands now, not as it stood before.
    TakeLockingFromCheckMark();
}

void FormRules::EnterConnectedState()
{
    CardSettings& settings = m_settings;
    SettingsBlock& block = m_block;
    m_nPortOpen = 1;
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
    m_surface.SetCheck(kIdLocking, false);
    m_nConfigLocking = 0;
    settings.m_bConfigLocking = false;
    CheckAndRun(kIdPasswordDisable);
    // "ClosePort" first: the focus moves from "OpenPort" to it before
    // "OpenPort" is disabled, so that it never falls to an edit field.
    Enable(kIdClosePort, m_nPortOpen == 1);
    if (m_nPortOpen == 1)
        MoveFocusToButton(kIdClosePort);
    Enable(kIdOpenPort, m_nPortOpen == 0);
}

void FormRules::EnterDisconnectedState()
{
    // The focus leaves "ClosePort" and the options for "OpenPort" before
    // they are disabled.
    Enable(kIdOpenPort, m_nPortOpen == 0);
    if (m_nPortOpen == 0)
        MoveFocusToButton(kIdOpenPort);
    Enable(kIdClosePort, m_nPortOpen == 1);
    // Every option disabled; values, check marks and selections stay as they are.
    Enable(kIdMake, false);
    for (const int nId : kSixteenRadios)
        Enable(nId, false);
    Enable({kIdDefaultTiming, kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress, kIdKey, kIdUserDefined,
            kIdImpulseInterval, kIdImpulseWidth, kIdPassword, kIdPasswordEnable, kIdPasswordDisable, kIdLocking},
           false);
}

int FormRules::Selection(int nId) const
{
    return m_surface.Selection(nId);
}

}  // namespace varnis
