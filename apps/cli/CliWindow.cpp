#include "apps/cli/CliWindow.h"

#include "config/ChoiceRules.h"

#include <array>
#include <cstdio>
#include <utility>

namespace varnis::cli {
namespace {

// The check byte of the one reply that counts as success, AA 00 00.
constexpr std::uint8_t kSuccessReplyCheck = 0xAA;

std::string HexByte(std::uint8_t nByte)
{
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", static_cast<unsigned>(nByte));
    return text.data();
}

}  // namespace

CliWindow::CliWindow(FormChoices choices, bool bLockingConfirmed, BuildState& buildState, std::ostream& out,
                     std::ostream& err)
    : m_choices(std::move(choices)), m_bLockingConfirmed(bLockingConfirmed), m_build(buildState), m_out(out), m_err(err)
{
    m_fields = {m_settings.m_strKey, m_settings.m_strImpulseInterval, m_settings.m_strImpulseWidth,
                m_settings.m_strPassword};
}

void CliWindow::Attach(IWindowTimers* pTimers, DeviceLink* pLink, ISerialOwner* pOwner)
{
    m_pTimers = pTimers;
    m_pLink = pLink;
    m_pOwner = pOwner;
}

void CliWindow::ShowMessage(std::string_view text, std::string_view caption)
{
    if (text == kSuccessText) {
        m_eAnswer = DeviceAnswer::Success;
    } else if (text == kFailureText) {
        m_eAnswer = DeviceAnswer::Failure;
    } else if (text == kTimeOutText) {
        m_eAnswer = DeviceAnswer::TimeOut;
    } else if (text == kNotFoundText) {
        m_eAnswer = DeviceAnswer::NotFound;
    }
    const bool bDeviceAnswer = text == kSuccessText || text == kFailureText || text == kTimeOutText ||
                               text == kInitialiseSucceedText || text == kInitialiseFailText;
    if (text == kFailureText) {
        m_out << text << FailureDetail() << std::endl;
    } else if (bDeviceAnswer) {
        m_out << text << std::endl;
    } else if (text == kMsgBlockAddress) {
        m_err << caption << ": " << text << '\n' << RangeDetail() << std::endl;
    } else if (!(text == kNotFoundText && m_bHoldNotFound)) {
        m_err << caption << ": " << text << std::endl;
    }
}

void CliWindow::NoteReplyByte(std::int32_t nParserState, std::uint32_t nByte)
{
    const auto byte = static_cast<std::uint8_t>(nByte & 0xFFU);
    if (nParserState == ParserStatus) {
        m_nReplyStatus = byte;
    } else if (nParserState == ParserCheck) {
        m_nReplyCheck = byte;
    } else if (nParserState == ParserEnd) {
        m_nReplyEnd = byte;
    }
}

// What made the reply a failure: the device's status, or, with a status of
// success, the byte that spoilt the reply.
std::string CliWindow::FailureDetail() const
{
    std::string detail = " (device status " + HexByte(m_nReplyStatus);
    if (m_nReplyStatus == 0x00 && m_nReplyCheck != kSuccessReplyCheck) {
        detail += ", check byte " + HexByte(m_nReplyCheck);
    } else if (m_nReplyStatus == 0x00 && m_nReplyEnd != kFrameEnd) {
        detail += ", end byte " + HexByte(m_nReplyEnd);
    }
    return detail + ")";
}

std::string CliWindow::RangeDetail() const
{
    return "varnis-cli: start address " + std::to_string(m_settings.m_nStartAddress) + " and end address " +
           std::to_string(m_settings.m_nEndAddress) +
           " given; the start must not be after the end, and at most five bytes are read (end at most start + 4)";
}

void CliWindow::ReadFormTexts()
{
    m_settings.m_strKey = m_fields.m_strKey;
    m_settings.m_strImpulseInterval = m_fields.m_strImpulseInterval;
    m_settings.m_strImpulseWidth = m_fields.m_strImpulseWidth;
    m_settings.m_strPassword = m_fields.m_strPassword;
}

void CliWindow::StartTimer(int nId, int nMilliseconds)
{
    if (m_pTimers == nullptr) {
        return;
    }
    m_pTimers->Start(nId, nMilliseconds, [this, nId] {
        if (m_beforeTimer) {
            m_beforeTimer(nId);
        }
        if (m_pLink != nullptr) {
            m_pLink->OnLinkTimer(nId);
        }
    });
}

void CliWindow::StopTimer(int nId)
{
    if (m_pTimers != nullptr) {
        m_pTimers->Stop(nId);
    }
}

void CliWindow::EnterConnectedState()
{
    m_bPortOpen = true;
    m_bConnected = true;
    FillForm();
}

void CliWindow::EnterDisconnectedState()
{
    m_bConnected = false;
}

// Shows the two impulse texts of the settings in their fields, as "Default"
// does; the other fields keep what was typed.
void CliWindow::ShowImpulseTexts()
{
    m_fields.m_strImpulseInterval = m_settings.m_strImpulseInterval;
    m_fields.m_strImpulseWidth = m_settings.m_strImpulseWidth;
}

// The locking check box: toggle, and on turning it on take the answer to the
// confirmation; Cancel turns it off again.
void CliWindow::OnLockingClicked()
{
    m_settings.m_bConfigLocking = !m_settings.m_bConfigLocking;
    if (m_settings.m_bConfigLocking && !m_bLockingConfirmed) {
        m_settings.m_bConfigLocking = false;
    }
}

// The clicks and the typing a user would do on a freshly connected form, in
// an order the form allows: a choice is made while its group is enabled, the
// interface is chosen after its formats, so the block ends as the window's.
void CliWindow::FillForm()
{
    SettingsBlock& block = m_build.m_settingsBlock;
    ApplyConnectionDefaults(m_settings, block);
    m_fields = {m_settings.m_strKey, m_settings.m_strImpulseInterval, m_settings.m_strImpulseWidth,
                m_settings.m_strPassword};

    // Key type and byte order are clicked after sector data output is chosen
    // (the command line takes them with --mode sector only).
    const FormChoices& c = m_choices;
    if (c.m_eMode) {
        ChooseOutputMode(m_settings, block, *c.m_eMode);
    }
    if (c.m_eKeyType) {
        ChooseKeyType(m_settings, block, *c.m_eKeyType);
    }
    if (c.m_eByteOrder) {
        ChooseByteOrder(m_settings, block, *c.m_eByteOrder);
    }

    // The list selections.
    m_settings.m_nSector = c.m_nSector.value_or(m_settings.m_nSector);
    m_settings.m_nBlock = c.m_nBlock.value_or(m_settings.m_nBlock);
    m_settings.m_nStartAddress = c.m_nStartAddress.value_or(m_settings.m_nStartAddress);
    m_settings.m_nEndAddress = c.m_nEndAddress.value_or(m_settings.m_nEndAddress);

    if (c.m_eImpulseTiming) {
        ChooseImpulseTiming(m_settings, block, *c.m_eImpulseTiming);
        if (*c.m_eImpulseTiming == ImpulseTiming::Default) {
            ShowImpulseTexts();
        }
    }
    // Typing into the edit fields.
    if (c.m_strImpulseWidth) {
        m_fields.m_strImpulseWidth = *c.m_strImpulseWidth;
    }
    if (c.m_strImpulseInterval) {
        m_fields.m_strImpulseInterval = *c.m_strImpulseInterval;
    }
    if (c.m_strKey) {
        m_fields.m_strKey = *c.m_strKey;
    }
    if (c.m_strPassword) {
        m_fields.m_strPassword = *c.m_strPassword;
    }

    // Both remembered formats first; the interface click then writes byte 1
    // from the one that belongs to it.
    if (c.m_eWiegandLength) {
        ChooseWiegandLength(m_settings, block, *c.m_eWiegandLength);
    }
    if (c.m_eAbaFormat) {
        ChooseAbaFormat(m_settings, block, *c.m_eAbaFormat);
    }
    ReadFormTexts();
    ChooseInterface(m_settings, block, c.m_eInterface.value_or(m_settings.m_eInterface));

    if (c.m_bPasswordProtection) {
        ChoosePasswordProtection(m_settings, block, *c.m_bPasswordProtection);
    }
    if (c.m_bConfigLocking.value_or(false) && !m_settings.m_bConfigLocking) {
        OnLockingClicked();
    }
}

}  // namespace varnis::cli
