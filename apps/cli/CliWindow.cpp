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
    FillInForm(m_choices, m_surface, m_core);
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
    case LinkAnswerKind::Refused:
        Message(answer.m_text, answer.m_caption);
        if (answer.m_eRefused == BuildCheck::Range) {
            m_err << RangeDetail() << std::endl;
        }
        break;
    }
}

void CliWindow::Message(std::string_view text, std::string_view caption)
{
    m_err << caption << ": " << text << std::endl;
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
        FillInForm(m_choices, m_surface, m_core);
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

}  // namespace varnis::cli
