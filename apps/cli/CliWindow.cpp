#include "apps/cli/CliWindow.h"

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

namespace varnis::cli {
namespace {

std::string HexByte(std::uint8_t nByte)
{
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", static_cast<unsigned>(nByte));
    return text.data();
}

// What made the reply a failure: the device's status, or, with a status of
// success, the byte that spoilt the reply.
std::string FailureDetail(const LinkAnswer& answer)
{
    std::string detail = " (device status " + HexByte(answer.m_nStatus);
    if (answer.m_nStatus == 0x00 && answer.m_nCheck != kFrameStart) {
        detail += ", check byte " + HexByte(answer.m_nCheck);
    } else if (answer.m_nStatus == 0x00 && answer.m_nEnd != kFrameEnd) {
        detail += ", end byte " + HexByte(answer.m_nEnd);
    }
    return detail + ")";
}

}  // namespace

CliWindow::CliWindow(FormChoices choices, bool bLockingConfirmed, std::ostream& out, std::ostream& err)
    : m_choices(std::move(choices)),
      m_bLockingConfirmed(bLockingConfirmed),
      m_out(out),
      m_err(err),
      m_core(m_surface, *this, *this, m_loop)
{
    m_core.OnInitMainWindow();
}

void CliWindow::ConnectWithoutDevice()
{
    m_core.EnterConnectedState();
    FillForm();
}

void CliWindow::OnAnswer(const LinkAnswer& answer)
{
    switch (answer.m_eKind) {
    case LinkAnswerKind::Failure:
        m_eAnswer = answer.m_eKind;
        m_out << answer.m_text << FailureDetail(answer) << std::endl;
        break;
    case LinkAnswerKind::Success:
    case LinkAnswerKind::TimeOut: m_eAnswer = answer.m_eKind; [[fallthrough]];
    case LinkAnswerKind::InitialiseSucceeded:
    case LinkAnswerKind::InitialiseFailed: m_out << answer.m_text << std::endl; break;
    case LinkAnswerKind::NotFound:
        m_eAnswer = answer.m_eKind;
        if (!m_bHoldNotFound) {
            Message(answer.m_text, answer.m_caption);
        }
        break;
    case LinkAnswerKind::Refused: Message(answer.m_text, answer.m_caption); break;
    }
}

void CliWindow::Message(std::string_view text, std::string_view caption)
{
    m_err << caption << ": " << text;
    if (text == kMsgBlockAddress) {  // the build's refusal of the range
        m_err << '\n' << RangeDetail();
    }
    m_err << std::endl;
}

// The engine's reports go to standard error as they are, except the report
// of a lost line: the run tells of that in one line of its own.
void CliWindow::ErrorMessage(std::string_view text, std::string_view, bool bLineLost)
{
    if (!bLineLost) {
        std::fwrite(text.data(), 1, text.size(), stderr);
    }
}

void CliWindow::OnSearchStep(const SearchStep& step)
{
    if (step.m_eKind == SearchStepKind::Found) {
        FillForm();
    }
    if (m_onSearchStep) {
        m_onSearchStep(step);
    }
}

bool CliWindow::OnLineLost(unsigned portnr)
{
    m_nLostPort = portnr;
    return false;  // the run ends: nothing more is asked of the link
}

std::string CliWindow::RangeDetail() const
{
    return "varnis-cli: start address " + std::to_string(m_surface.Selection(kIdStartAddress)) + " and end address " +
           std::to_string(m_surface.Selection(kIdEndAddress)) +
           " given; the start must not be after the end, and at most five bytes are read (end at most start + 4)";
}

void CliWindow::StartTimer(int nId, int nMilliseconds)
{
    m_loop.StartTimer(nId, nMilliseconds, [this, nId] { m_core.OnTimer(nId); });
}

// A user's click: the mark changes as the toolkit changes it, then the click
// reaches the core, which runs no rule for a disabled control.
void CliWindow::Click(int nId)
{
    m_surface.MarkAsClicked(nId);
    m_core.OnCommand(nId);
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
