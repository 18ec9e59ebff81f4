#include "apps/cli/CliWindow.h"

#include "ui/core/FormIds.h"

#include <array>
#include <cstdio>
#include <optional>
#include <string>
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
    : m_choices(std::move(choices)),
      m_bLockingConfirmed(bLockingConfirmed),
      m_out(out),
      m_err(err),
      m_rules(m_surface, *this, buildState.m_settingsBlock)
{
    m_rules.ShowStartState();
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
    return "varnis-cli: start address " + std::to_string(SelectedStartAddress()) + " and end address " +
           std::to_string(SelectedEndAddress()) +
           " given; the start must not be after the end, and at most five bytes are read (end at most start + 4)";
}

void CliWindow::StartTimer(int nId, int nMilliseconds)
{
    if (m_pTimers == nullptr) {
        return;
    }
    m_pTimers->Start(nId, nMilliseconds, [this, nId] {
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
    m_rules.EnterConnectedState();
    m_bConnected = true;
    FillForm();
}

void CliWindow::EnterDisconnectedState()
{
    m_rules.EnterDisconnectedState();
    m_bConnected = false;
}

// A user's click: the mark changes, then the rule runs; a disabled control
// takes no click.
void CliWindow::Click(int nId)
{
    if (m_surface.MarkAsClicked(nId)) {
        m_rules.OnClickRule(nId);
    }
}

// The clicks and the typing a user would do on a freshly connected form, in
// an order the form allows: a choice is clicked while its group is enabled,
// the interface before its own formats.
void CliWindow::FillForm()
{
    const FormChoices& c = m_choices;
    // Key type and byte order are clicked after sector data output is chosen
    // (the command line takes them with --mode sector only).
    if (c.m_eMode) {
        Click(*c.m_eMode == OutputMode::Uid ? kIdMode0 : kIdMode1);
    }
    if (c.m_eKeyType) {
        Click(*c.m_eKeyType == KeyType::KeyA ? kIdKeyA : kIdKeyB);
    }
    if (c.m_eByteOrder) {
        Click(*c.m_eByteOrder == ByteOrder::MsbFirst ? kIdMsbFirst : kIdLsbFirst);
    }
    const std::array<std::pair<int, const std::optional<int>*>, 4> lists = {{
        {kIdSector, &c.m_nSector},
        {kIdBlock, &c.m_nBlock},
        {kIdStartAddress, &c.m_nStartAddress},
        {kIdEndAddress, &c.m_nEndAddress},
    }};
    for (const auto& [nId, pChoice] : lists) {
        if (pChoice->has_value()) {
            m_surface.Select(nId, **pChoice);
        }
    }
    if (c.m_eImpulseTiming) {
        Click(*c.m_eImpulseTiming == ImpulseTiming::Default ? kIdDefaultTiming : kIdUserDefined);
    }
    const std::array<std::pair<int, const std::optional<std::string>*>, 4> texts = {{
        {kIdImpulseWidth, &c.m_strImpulseWidth},
        {kIdImpulseInterval, &c.m_strImpulseInterval},
        {kIdKey, &c.m_strKey},
        {kIdPassword, &c.m_strPassword},
    }};
    for (const auto& [nId, pText] : texts) {
        if (pText->has_value()) {
            m_surface.SetText(nId, **pText);
        }
    }
    // The interface takes the typed texts; then its own format.
    Click(c.m_eInterface.value_or(InterfaceKind::Wiegand) == InterfaceKind::Aba ? kIdAba : kIdWiegand);
    if (c.m_eWiegandLength) {
        constexpr std::array kLengths = {kIdWiegand26, kIdWiegand34, kIdWiegand42};
        Click(kLengths.at(static_cast<std::size_t>(*c.m_eWiegandLength)));
    }
    if (c.m_eAbaFormat) {
        constexpr std::array kFormats = {kIdAba8HTo10D, kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D, kIdAba4H2HTo8D};
        Click(kFormats.at(static_cast<std::size_t>(*c.m_eAbaFormat)));
    }
    if (c.m_bPasswordProtection) {
        Click(*c.m_bPasswordProtection ? kIdPasswordEnable : kIdPasswordDisable);
    }
    if (c.m_bConfigLocking.value_or(false) && !m_surface.IsChecked(kIdLocking)) {
        Click(kIdLocking);
    }
}

}  // namespace varnis::cli
