#include "link/DeviceLink.h"

namespace varnis {
namespace {

// The window as the build sees it, but a refusal is told as the link's answer.
class RefusingForm final : public IBuildForm {
public:
    explicit RefusingForm(ILinkWindow& window) : m_window(window) {}
    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        m_window.OnAnswer({LinkAnswerKind::Refused, text, caption});
    }
    void Refuse(BuildCheck eCheck, std::string_view text, std::string_view caption) override
    {
        LinkAnswer answer{LinkAnswerKind::Refused, text, caption};
        answer.m_eRefused = eCheck;
        m_window.OnAnswer(answer);
    }
    bool IsPortOpen() const override { return m_window.IsPortOpen(); }
    void ReadFormTexts() override { m_window.ReadFormTexts(); }
    const CardSettings& Settings() const override { return m_window.Settings(); }
    int SelectedSector() const override { return m_window.SelectedSector(); }
    int SelectedBlock() const override { return m_window.SelectedBlock(); }
    int SelectedStartAddress() const override { return m_window.SelectedStartAddress(); }
    int SelectedEndAddress() const override { return m_window.SelectedEndAddress(); }

private:
    ILinkWindow& m_window;
};

}  // namespace

DeviceLink::DeviceLink(ILinkWindow& window, IPortEngine& engine, LinkState& linkState, BuildState& buildState)
    : m_window(window), m_engine(engine), m_link(linkState), m_build(buildState)
{
}

void DeviceLink::SendByte(std::uint8_t nByte)
{
    const std::array<std::uint8_t, 1> data{nByte};
    m_engine.Send(data);
}

bool DeviceLink::BuildForm()
{
    RefusingForm form(m_window);
    return BuildSettingsBlock(form, m_build);
}

void DeviceLink::OnMake()
{
    m_link.m_nPendingOperation = PendingMake;
    // Only a build that succeeded now opens an exchange: a frame-ready flag
    // left over from an exchange still waiting for its ACK must not carry a
    // form that has just been refused, nor may a frame staged for an
    // earlier card (a stray ACK would send it again).
    m_link.m_bFrameStaged = false;
    if (!BuildForm() || !m_build.m_bFrameReady) {
        return;
    }
    m_link.m_bFrameStaged = true;
    m_window.ReadFormTexts();
    SendByte(kStx);
    StartLinkTimer(kReplyTimerId, kReplyTimerMs);
}

void DeviceLink::OnReceivedByte(std::uint32_t byte, std::uint32_t /*portnr*/)
{
    if (m_link.m_nWritePos < 0 || m_link.m_nWritePos >= kRingSize) {
        m_link.m_nWritePos = 0;
    }
    m_link.m_ring[static_cast<std::size_t>(m_link.m_nWritePos)] = static_cast<std::int32_t>(byte & 0xFFu);
    ++m_link.m_nWritePos;
    if (m_link.m_nWritePos == kRingSize) {
        m_link.m_nWritePos = 0;
    }
    if (m_link.m_nReadPos != m_link.m_nWritePos) {
        ParseReplyByte();
    }
}

void DeviceLink::ParseReplyByte()
{
    if (m_link.m_nReadPos < 0 || m_link.m_nReadPos >= kRingSize) {
        m_link.m_nReadPos = 0;
    }
    const std::int32_t b = m_link.m_ring[static_cast<std::size_t>(m_link.m_nReadPos)];
    // The byte is consumed before it is acted on, so that a handler that
    // waits in a message box never sees the same entry twice.
    ++m_link.m_nReadPos;

    switch (m_link.m_nParserState) {
    case ParserWaitAck:
        if (b == kAck) {
            OnAck();
        }
        break;
    case ParserWaitStx:
        if (b == kStx) {
            m_window.ReadFormTexts();
            SendByte(kAck);
            m_link.m_nParserState = ParserWaitStart;
        }
        break;
    case ParserWaitStart:
        if (b == kFrameStart) {
            m_link.m_nParserState = ParserStatus;
        }
        break;
    case ParserStatus:
        m_link.m_nReplyStatus = static_cast<std::uint8_t>(b);
        m_link.m_bStatusOk = (b == 0x00);
        m_link.m_nParserState = ParserLength;
        break;
    case ParserLength: m_link.m_nParserState = ParserCheck; break;
    case ParserCheck:
        m_link.m_nReplyCheck = static_cast<std::uint8_t>(b);
        m_link.m_bCheckOk = (b == kFrameStart);
        m_link.m_nParserState = ParserEnd;
        break;
    case ParserEnd: OnReplyEnd(b); break;
    default:
        // Not reachable through the handlers; a damaged value starts over.
        m_link.m_nParserState = ParserWaitAck;
        break;
    }
}

void DeviceLink::OnAck()
{
    m_link.m_nParserState = ParserWaitStx;
    if (m_link.m_bProbeOutstanding) {
        StopLinkTimer(kProbeTimerId);
        m_link.m_nNextPortToProbe = kFirstPort;
        m_link.m_bProbeOutstanding = false;
        m_link.m_bSearchEnded = false;
        // An answer to a probe connects and does nothing more: a card that
        // did not finish on an earlier connection is never written again
        // unasked (the form is back at its defaults, the staged frame is not).
        m_link.m_nPendingOperation = PendingNone;
        m_link.m_bFrameStaged = false;
        m_build.m_bFrameReady = false;
        StopLinkTimer(kReplyTimerId);
        m_window.EnterConnectedState();
        m_link.m_nParserState = ParserWaitAck;
        m_window.OnSearchStep({SearchStepKind::Found, m_link.m_nProbedPort});
        return;
    }
    if (m_link.m_nPendingOperation == PendingMake) {
        StopLinkTimer(kReplyTimerId);
        if (m_link.m_bFrameStaged) {
            const ConfigurationFrame frame = AssembleConfigurationFrame(m_build);
            m_window.ReadFormTexts();
            m_engine.Send(frame);
        }
        m_build.m_bFrameReady = false;
    }
}

void DeviceLink::OnReplyEnd(std::int32_t nEndByte)
{
    const bool bSuccess = nEndByte == kFrameEnd && m_link.m_bStatusOk && m_link.m_bCheckOk;
    const bool bMake = m_link.m_nPendingOperation == PendingMake;
    // The reply is done before its box opens: handlers that run inside the
    // box (a search step, a late byte) find the reader back in state 0 and a
    // card that was written no longer pending, and nothing is set after the
    // box that could undo what they did.
    m_link.m_nParserState = ParserWaitAck;
    if (bMake && bSuccess) {
        m_link.m_nPendingOperation = PendingNone;
    }
    LinkAnswer answer;
    if (bMake) {
        answer.m_eKind = bSuccess ? LinkAnswerKind::Success : LinkAnswerKind::Failure;
        answer.m_text = bSuccess ? kMsgSuccess : kMsgFailure;
    } else {
        answer.m_eKind = bSuccess ? LinkAnswerKind::InitialiseSucceeded : LinkAnswerKind::InitialiseFailed;
        answer.m_text = bSuccess ? kMsgInitSucceed : kMsgInitFail;
    }
    answer.m_caption = kCaptionWarning;
    answer.m_nStatus = m_link.m_nReplyStatus;
    answer.m_nCheck = m_link.m_nReplyCheck;
    answer.m_nEnd = static_cast<std::uint8_t>(nEndByte);
    m_window.OnAnswer(answer);
}

namespace {

constexpr std::uint32_t TimerBit(int nId)
{
    return nId >= 0 && nId < 32 ? 1U << static_cast<unsigned>(nId) : 0U;
}

constexpr int TimerPeriod(int nId)
{
    return nId == kReplyTimerId ? kReplyTimerMs : kProbeTimerMs;
}

}  // namespace

void DeviceLink::StartLinkTimer(int nId, int nMilliseconds)
{
    m_link.m_nCatchUpPending &= ~TimerBit(nId);
    m_link.m_nCaughtUp &= ~TimerBit(nId);
    m_window.StartTimer(nId, nMilliseconds);
}

void DeviceLink::StopLinkTimer(int nId)
{
    m_link.m_nCatchUpPending &= ~TimerBit(nId);
    m_link.m_nCaughtUp &= ~TimerBit(nId);
    m_window.StopTimer(nId);
}

// A late wake-up may find the answer already waiting in the port. So the
// expiry first asks the engine to hand over what the port has received, and
// acts at the next expiry: the one OnCaughtUp starts once those bytes have
// been handled, or, should that never come (the port closed meanwhile), the
// one a whole period later.
void DeviceLink::OnLinkTimer(int nId)
{
    const std::uint32_t nBit = TimerBit(nId);
    const bool bAsked = (m_link.m_nCatchUpPending & nBit) != 0 || (m_link.m_nCaughtUp & nBit) != 0;
    if (nBit != 0 && !bAsked && m_engine.RequestCatchUp(static_cast<std::uint32_t>(nId))) {
        m_window.StartTimer(nId, TimerPeriod(nId));
        m_link.m_nCatchUpPending |= nBit;
        return;
    }
    m_link.m_nCatchUpPending &= ~nBit;
    m_link.m_nCaughtUp &= ~nBit;
    OnTimerExpired(nId);
}

// Runs inside the engine's notification, which holds the port's thread: the
// expiry itself (and its box) runs from the window's loop, so bytes go on
// being delivered while its box is open.
void DeviceLink::OnCaughtUp(std::uint32_t nTag, std::uint32_t /*portnr*/)
{
    const std::uint32_t nBit = nTag < 32 ? TimerBit(static_cast<int>(nTag)) : 0U;
    if (nBit == 0 || (m_link.m_nCatchUpPending & nBit) == 0) {
        return;  // the timer was stopped or started again meanwhile
    }
    m_link.m_nCatchUpPending &= ~nBit;
    m_link.m_nCaughtUp |= nBit;
    m_window.StartTimer(static_cast<int>(nTag), 0);
}

void DeviceLink::OnTimerExpired(int nId)
{
    if (nId == kReplyTimerId) {
        StopLinkTimer(kReplyTimerId);
        m_build.m_bFrameReady = false;
        m_window.OnAnswer({LinkAnswerKind::TimeOut, kMsgTimeout, kCaptionWarning});
    } else if (nId == kProbeTimerId) {
        StopLinkTimer(kProbeTimerId);
        if (m_link.m_bProbeOutstanding) {
            m_link.m_bProbeOutstanding = false;
            m_window.OnSearchStep({SearchStepKind::Unanswered, m_link.m_nProbedPort});
            if (m_link.m_bSearchEnded) {
                m_link.m_bSearchEnded = false;  // its message has been shown already
                return;
            }
            OnOpenPort();
        }
    }
}

// Opening another port closes the one whose probe is outstanding, so that
// probe's answer can no longer come: its wait ends here.
void DeviceLink::EndProbeWait()
{
    if (m_link.m_bProbeOutstanding) {
        m_link.m_bProbeOutstanding = false;
        StopLinkTimer(kProbeTimerId);
    }
    m_link.m_bSearchEnded = false;
}

void DeviceLink::OnOpenPort()
{
    if (m_link.m_nNextPortToProbe < kFirstPort) {
        m_link.m_nNextPortToProbe = kFirstPort;
    }
    // A search the user starts afresh (not the next step of a running one)
    // drops whatever reply was half read on an earlier line: a device that
    // went away in the middle of its reply, or an ACK that came after its
    // probe had timed out, would otherwise leave the reader waiting for the
    // rest for ever, and no probe could be answered again.
    if (m_link.m_nNextPortToProbe == kFirstPort) {
        m_link.m_nParserState = ParserWaitAck;
        m_link.m_bStatusOk = false;
        m_link.m_bCheckOk = false;
    }
    while (m_link.m_nNextPortToProbe <= kLastPort) {
        EndProbeWait();
        const auto portnr = static_cast<unsigned>(m_link.m_nNextPortToProbe);
        ++m_link.m_nNextPortToProbe;
        const std::uint32_t nChange = ++m_link.m_nPortChanges;
        // The engine may show its error box in here, with other handlers
        // running inside it.
        if (!m_engine.Initialise(portnr, kLinkBaud, kLinkParity, kLinkDataBits, kLinkStopBits, kLinkEventMask,
                                 kLinkSendBufferSize)) {
            m_window.OnSearchStep({SearchStepKind::NotOpened, portnr});
            continue;
        }
        if (nChange != m_link.m_nPortChanges) {
            return;  // a handler inside the engine's box has moved the port on; this step is over
        }
        (void)m_engine.StartMonitor();
        m_window.ReadFormTexts();
        SendByte(kStx);
        m_link.m_bProbeOutstanding = true;
        m_link.m_nProbedPort = portnr;
        StartLinkTimer(kProbeTimerId, kProbeTimerMs);
        m_window.OnSearchStep({SearchStepKind::Probing, portnr});
        return;
    }
    // No port was left to open. If this call opened none at all (the press
    // came during the probe on the last port), that port is still open and
    // its probe may still be answered in time: it keeps waiting, but its
    // expiry only ends the wait. Otherwise opening the ports has closed the
    // probed one and ended its wait above.
    m_link.m_bSearchEnded = m_link.m_bProbeOutstanding;
    m_link.m_nNextPortToProbe = kFirstPort;
    m_window.OnAnswer({LinkAnswerKind::NotFound, kMsgNotFound, kCaptionWarning});
}

void DeviceLink::OnLineLost(std::uint32_t /*portnr*/)
{
    if (m_link.m_bProbeOutstanding) {
        // The probed port can no longer answer: the search goes on at once.
        m_link.m_bProbeOutstanding = false;
        StopLinkTimer(kProbeTimerId);
        if (m_link.m_bSearchEnded) {
            m_link.m_bSearchEnded = false;  // its message has been shown already
            ++m_link.m_nPortChanges;
            (void)m_engine.Close();
            return;
        }
        OnOpenPort();
        return;
    }
    // A card in progress ends: no timer waits for a reply that cannot come,
    // and the reader waits for an ACK again, as after a completed reply.
    StopLinkTimer(kReplyTimerId);
    m_build.m_bFrameReady = false;
    m_link.m_nParserState = ParserWaitAck;
    m_link.m_bStatusOk = false;
    m_link.m_bCheckOk = false;
    // The port is let go of at once, so that the device plugged back in
    // finds its name free; a connection on it ends as ClosePort ends it.
    if (m_window.IsPortOpen()) {
        OnClosePort();
    } else {
        ++m_link.m_nPortChanges;
        (void)m_engine.Close();
    }
}

void DeviceLink::OnClosePort()
{
    ++m_link.m_nPortChanges;
    (void)m_engine.Close();
    m_window.SetPortOpen(false);
    m_window.EnterDisconnectedState();
}

}  // namespace varnis
