// The window as wiring: the engine, the link and the timers put together, and
// every event routed to the link.
#include "ui/VarnisDlg.h"

#include "ui/FormLayout.h"
#include "ui/VarnisDlgPrivate.h"

#include <QPushButton>
#include <QTimer>

namespace varnis {

ISerialOwner* VarnisDlg::Private::LinkWindow::PortOwner()
{
    return &m_dlg.m_p->m_ownerChannel;
}

VarnisDlg::Private::Private(VarnisDlg& dlg)
    : m_dlg(dlg),
      m_linkWindow(dlg),
      m_pDefaultBoxes(std::make_unique<QtMessageBoxes>()),
      m_pBoxes(m_pDefaultBoxes.get()),
      m_errorReporter(m_ownerThread, [this]() -> IMessageBoxes& { return *m_pBoxes; }),
      m_ownerChannel(m_ownerThread, [this](const SerialNotification& n) { OnNotification(n); }),
      m_engine(m_serialPort),
      m_link(m_linkWindow, m_engine, m_linkState, m_buildState)
{
    m_serialPort.SetErrorReporter(&m_errorReporter);
}

void VarnisDlg::Private::OnNotification(const SerialNotification& n)
{
    if (n.m_nMessage == SPN_RXCHAR)
        m_link.OnReceivedByte(n.m_nWParam, n.m_nLParam);
    else if (n.m_nMessage == SPN_LINE_LOST)
        m_link.OnLineLost(n.m_nLParam);
}

QTimer* VarnisDlg::Private::Timer(int nId)
{
    auto it = m_timers.find(nId);
    if (it == m_timers.end()) {
        auto* pTimer = new QTimer(&m_dlg);
        pTimer->setTimerType(Qt::PreciseTimer);  // the device's limits are exact
        QObject::connect(pTimer, &QTimer::timeout, &m_dlg, [this, nId]() { m_link.OnLinkTimer(nId); });
        it = m_timers.emplace(nId, pTimer).first;
    }
    return it->second;
}

const QTimer* VarnisDlg::Private::FindTimer(int nId) const
{
    const auto it = m_timers.find(nId);
    return it == m_timers.end() ? nullptr : it->second;
}

VarnisDlg::VarnisDlg(QWidget* pParent) : QDialog(pParent), m_p(std::make_unique<Private>(*this))
{
    for (const int nId : {kReplyTimerId, kProbeTimerId})
        m_p->Timer(nId);
    CreateForm();
    OnInitMainWindow();
}

VarnisDlg::~VarnisDlg()
{
    for (auto& [nId, pTimer] : m_p->m_timers)
        pTimer->stop();
    // A notification or error report in flight returns now; the engine's
    // destruction then stops its thread without waiting on this window.
    m_p->m_ownerChannel.Close();
    m_p->m_errorReporter.Close();
}

void VarnisDlg::CreateForm()
{
    LayOutForm(*this, m_p->m_controls, [this](int nId) { OnClickRule(nId); });
    const FormControls& controls = m_p->m_controls;
    const auto onClick = [this, &controls](int nId, auto handler) {
        connect(static_cast<QPushButton*>(controls.Control(nId)), &QPushButton::clicked, this, handler);
    };
    onClick(kIdExit, [this]() { accept(); });
    onClick(kIdHelp, [this]() { ShowHelpWindow(); });
    onClick(kIdOpenPort, [this]() { OnOpenPort(); });
    onClick(kIdClosePort, [this]() { OnClosePort(); });
    onClick(kIdMake, [this]() { OnMake(); });
}

void VarnisDlg::SetPortTable(const PortTable& table)
{
    m_p->m_serialPort.SetPortTable(table);
}

void VarnisDlg::SetMessageBoxes(IMessageBoxes* pBoxes)
{
    m_p->m_pBoxes = pBoxes != nullptr ? pBoxes : m_p->m_pDefaultBoxes.get();
}

IMessageBoxes& VarnisDlg::MessageBoxes()
{
    return *m_p->m_pBoxes;
}

const QIcon& VarnisDlg::WindowIcon() const
{
    return m_p->m_icon;
}

void VarnisDlg::OnOpenPort()
{
    m_p->m_link.OnOpenPort();
}

void VarnisDlg::OnClosePort()
{
    m_p->m_link.OnClosePort();
}

void VarnisDlg::OnMake()
{
    m_p->m_link.OnMake();
}

void VarnisDlg::ShowMessage(std::string_view text, std::string_view caption)
{
    m_p->m_pBoxes->Message(this, FromUtf8(text), FromUtf8(caption));
}

bool VarnisDlg::IsPortOpen() const
{
    return m_p->m_nPortOpen != 0;
}

void VarnisDlg::SetPortOpen(bool bOpen)
{
    m_p->m_nPortOpen = bOpen ? 1 : 0;
}

void VarnisDlg::ReadFormTexts()
{
    m_p->m_controls.ReadTexts(m_p->m_settings);
}

void VarnisDlg::ShowFormTexts()
{
    m_p->m_controls.ShowTexts(m_p->m_settings);
}

const CardSettings& VarnisDlg::Settings() const
{
    return m_p->m_settings;
}

int VarnisDlg::SelectedSector() const
{
    return m_p->m_controls.Selection(kIdSector);
}

int VarnisDlg::SelectedBlock() const
{
    return m_p->m_controls.Selection(kIdBlock);
}

int VarnisDlg::SelectedStartAddress() const
{
    return m_p->m_controls.Selection(kIdStartAddress);
}

int VarnisDlg::SelectedEndAddress() const
{
    return m_p->m_controls.Selection(kIdEndAddress);
}

void VarnisDlg::StartTimer(int nId, int nMilliseconds)
{
    m_p->Timer(nId)->start(nMilliseconds);
}

void VarnisDlg::StopTimer(int nId)
{
    if (const auto it = m_p->m_timers.find(nId); it != m_p->m_timers.end())
        it->second->stop();
}

}  // namespace varnis
