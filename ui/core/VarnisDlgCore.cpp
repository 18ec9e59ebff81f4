// The window's core: the routing of commands, menu commands, timers and
// notifications; the rules themselves are in FormRules.cpp.
#include "ui/core/VarnisDlgCore.h"

#include "config/ChoiceRules.h"
#include "serial/PortTable.h"
#include "ui/core/FormTable.h"

#include <array>
#include <string>
#include <utility>

namespace varnis {


WindowErrorReporter::WindowErrorReporter(IOwnerThread& owner, Show show)
    : m_show(std::move(show)), m_ownerId(std::this_thread::get_id()), m_channel(owner)
{
}

void WindowErrorReporter::ReportError(std::string_view text, std::string_view caption, const CancelSignal& cancel)
{
    Report(text, caption, false, cancel);
}

void WindowErrorReporter::ReportLineLost(std::string_view text, std::string_view caption, const CancelSignal& cancel)
{
    Report(text, caption, true, cancel);
}

void WindowErrorReporter::Report(std::string_view text, std::string_view caption, bool bLineLost,
                                 const CancelSignal& cancel)
{
    if (std::this_thread::get_id() == m_ownerId) {
        m_show(text, caption, bLineLost);
        return;
    }
    // Copies: the caller's texts may be gone once a cancelled wait returns.
    m_channel.RunAndWait([this, strText = std::string(text), strCaption = std::string(caption),
                          bLineLost]() { m_show(strText, strCaption, bLineLost); },
                         cancel);
}

void WindowErrorReporter::Close()
{
    m_channel.Close();
}

VarnisDlgCore::VarnisDlgCore(IDialogSurface& surface, IDialogShell& shell, IShellResources& resources,
                             IOwnerThread& ownerThread)
    : m_surface(surface),
      m_shell(shell),
      m_resources(resources),
      m_errorReporter(ownerThread, [&shell](std::string_view text, std::string_view caption,
                                            bool bLineLost) { shell.ErrorMessage(text, caption, bLineLost); }),
      m_ownerChannel(ownerThread,
                     [this](const SerialNotification& n) { OnNotification(n.m_nMessage, n.m_nWParam, n.m_nLParam); }),
      m_rules(surface, shell, m_buildState.m_settingsBlock),
      m_engine(m_serialPort, m_ownerChannel),
      m_link(*this, m_engine, m_linkState, m_buildState)
{
    m_serialPort.SetErrorReporter(&m_errorReporter);
}

VarnisDlgCore::~VarnisDlgCore()
{
    m_ownerChannel.Close();
    m_errorReporter.Close();
}

void VarnisDlgCore::SetPortTable(const PortTable& table)
{
    m_serialPort.SetPortTable(table);
}

bool VarnisDlgCore::OnCommand(int nId)
{
    switch (nId) {
    case kIdExit: m_shell.EndWindow(true); return true;
    case kIdCancel: m_shell.EndWindow(false); return true;
    case kIdHelp: m_shell.ShowHelpWindow(); return true;
    case kIdOpenPort: m_link.OnOpenPort(); return true;
    case kIdClosePort: m_link.OnClosePort(); return true;
    case kIdMake: m_link.OnMake(); return true;
    default: break;
    }
    const FormItem* pItem = FindFormItem(nId);
    if (pItem == nullptr || (pItem->m_eKind != ControlKind::Radio && pItem->m_eKind != ControlKind::Check))
        return false;
    // Clicks reach enabled controls only.
    if (m_surface.IsEnabled(nId))
        m_rules.OnClickRule(nId);
    return true;
}

bool VarnisDlgCore::OnSysCommand(unsigned nId)
{
    if ((nId & 0xFFF0U) != kSysCommandAbout)
        return false;
    m_shell.ShowHelpWindow();
    return true;
}

void VarnisDlgCore::OnTimer(int nId)
{
    m_link.OnLinkTimer(nId);
}

void VarnisDlgCore::OnNotification(std::uint32_t nMessage, std::uint32_t nWParam, std::uint32_t nLParam)
{
    if (nMessage == SPN_RXCHAR)
        m_link.OnReceivedByte(nWParam, nLParam);
    else if (nMessage == SPN_LINE_LOST && m_shell.OnLineLost(nLParam))
        m_link.OnLineLost(nLParam);
    else if (nMessage == SPN_CAUGHT_UP)
        m_link.OnCaughtUp(nWParam, nLParam);
}

void VarnisDlgCore::OnInitMainWindow()
{
    // The lists were filled and the edit fields limited when the form was made.
    if (const std::string about = m_resources.ResourceString(kAboutMenuStringId); !about.empty())
        m_resources.AppendMenuItem(kSysCommandAbout, about);
    m_resources.SetWindowIcon();
    m_rules.ShowStartState();
}

void VarnisDlgCore::ShowMessage(std::string_view text, std::string_view caption)
{
    m_shell.Message(text, caption);
}

int VarnisDlgCore::SelectedSector() const
{
    return m_rules.Selection(kIdSector);
}

int VarnisDlgCore::SelectedBlock() const
{
    return m_rules.Selection(kIdBlock);
}

int VarnisDlgCore::SelectedStartAddress() const
{
    return m_rules.Selection(kIdStartAddress);
}

int VarnisDlgCore::SelectedEndAddress() const
{
    return m_rules.Selection(kIdEndAddress);
}

void VarnisDlgCore::StartTimer(int nId, int nMilliseconds)
{
    m_shell.StartTimer(nId, nMilliseconds);
}

void VarnisDlgCore::StopTimer(int nId)
{
    m_shell.StopTimer(nId);
}

}  // namespace varnis
