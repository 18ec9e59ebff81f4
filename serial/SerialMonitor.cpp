// The engine's monitoring thread: waits for stop, line and send, notifies
// every received byte, writes what Send handed over.
#include "serial/PortBackend.h"
#include "serial/SerialPort.h"
#include "serial/Text.h"

#include <array>
#include <utility>

namespace varnis {

// Every wait in here includes the stop event, and nothing loops without
// waiting. The port stays usable (or retired, see Close) until the thread
// has been joined.
void SerialPort::MonitorThread(bool bWatchLine)
{
    m_bMonitorAlive.store(true);
    // Bytes are read only when their arrival is monitored; otherwise they
    // stay queued and only the line's end wakes the thread.
    m_bWatchLine = bWatchLine;
    m_bLineLost = false;
    for (;;) {
        const bool bSuspended = IsSuspended();
        WaitRequest request;
        request.m_pStop = &m_hStopEvent;
        request.m_pWake = &m_hWakeEvent;
        request.m_pSend = bSuspended ? nullptr : &m_hSendEvent;
        request.m_eLine = LineToWatch();
        const WaitResult woken = m_hComm->Wait(request);
        if (woken.m_eSlot == WaitSlot::Failed) {
            ReportError(PortFailure{kStepWaitCommEvent, woken.m_nError}, StopSignal());
            m_hStopEvent.Wait(-1);
            break;
        }
        if (woken.m_eSlot == WaitSlot::Stop) {
            break;
        }
        if (woken.m_eSlot == WaitSlot::Wake) {
            m_hWakeEvent.Reset();
            ServeCatchUp();
        } else if (woken.m_eSlot == WaitSlot::Line) {
            ServeLine();
        } else if (woken.m_eSlot == WaitSlot::Send) {
            SendPending();
        }
    }
    m_bMonitorAlive.store(false);
}

// What of the line the thread waits for: bytes are read only when their
// arrival is monitored; otherwise they stay queued and only the line's end
// wakes the thread. Nothing while paused, and nothing once the line is lost.
LineWatch SerialPort::LineToWatch() const
{
    if (!m_bWatchLine || IsSuspended()) {
        return LineWatch::None;
    }
    return (m_dwEventMask & EV_RXCHAR) != 0 ? LineWatch::Input : LineWatch::HangUpOnly;
}

// The line has gone. Reported once, with the engine's own report, then the
// owner is told (SPN_LINE_LOST) so that nothing waits on the line any more;
// the thread then waits for stop and send only. A later failure on the dead
// line (a write the owner still asks for) is reported as itself.
void SerialPort::LineLost(const PortFailure& failure)
{
    m_bWatchLine = false;
    if (m_bLineLost) {
        ReportError(failure, StopSignal());
        return;
    }
    m_bLineLost = true;
    ReportError(failure, StopSignal(), true);
    if (!IsStopRequested()) {
        Notify(SPN_LINE_LOST, 0);
    }
}

// Line activity: the notifications of the monitored events, then the drain.
void SerialPort::ServeLine()
{
    if (IsSuspended()) {
        return;
    }
    LineQuery query;
    if (!PortCall([&] { query = m_hComm->QueryLine(); })) {
        return;  // closed under us: the stop is served next
    }
    if (query.m_bLost) {
        LineLost(PortFailure{kStepWaitCommEvent, query.m_nError});
        return;
    }
    if (query.m_nWaiting <= 0) {
        return;
    }
    static constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 5> kLineEvents{{
        {EV_CTS, SPN_CTS},
        {EV_RXFLAG, SPN_EVENT_CHAR},
        {EV_BREAK, SPN_BREAK},
        {EV_ERR, SPN_LINE_ERROR},
        {EV_RING, SPN_RING},
    }};
    for (const auto& [nBit, nMessage] : kLineEvents) {
        if ((m_dwEventMask & nBit) != 0 && !Notify(nMessage, 0)) {
            return;
        }
    }
    ReceivePending();
}

// Reads and notifies every waiting byte, one at a time, in order. Bytes that
// arrive while the owner handles one belong to the same drain. The drain
// ends on an empty queue, a stop, a pause, or a failed read (which sends no
// byte: the line is lost).
// The read itself tells whether a byte is waiting: a read of an empty queue
// says so at once, and costs one system call instead of two.
void SerialPort::ReceivePending()
{
    for (;;) {
        if (IsSuspended()) {
            return;
        }
        ReadResult read;
        if (!PortCall([&] { read = m_hComm->ReadByte(); })) {
            return;  // the port was closed under the drain
        }
        if (read.m_eOutcome == ReadOutcome::Empty) {
            return;  // nothing more waiting
        }
        if (read.m_eOutcome == ReadOutcome::Failed) {
            LineLost(PortFailure{kStepReadFile, read.m_nError});
            return;
        }
        if (!Notify(SPN_RXCHAR, read.m_nByte)) {
            return;
        }
    }
}

// The owner asked to be caught up (a timer of its is due): the bytes already
// received are notified, then a write it has handed over goes out (its purge
// must not cut them), then the answer, so that the owner acts on the line as
// it is now. While paused the request waits for the resume.
void SerialPort::ServeCatchUp()
{
    if (IsSuspended()) {
        return;
    }
    const std::uint32_t nTags = m_nCatchUpTags.exchange(0);
    if (nTags == 0) {
        return;
    }
    int nWaiting = 0;
    if (LineToWatch() == LineWatch::Input && PortCall([&] { nWaiting = m_hComm->InputWaiting(); }) && nWaiting > 0) {
        ReceivePending();
    }
    if (m_hSendEvent.IsSet() && !IsStopRequested()) {
        SendPending();
    }
    for (std::uint32_t nTag = 0; nTag < 32; ++nTag) {
        if ((nTags & (1U << nTag)) != 0 && !Notify(SPN_CAUGHT_UP, nTag)) {
            return;
        }
    }
}

// Hands the copy of the send buffer to the line within the write time-outs.
// Returns the count the line took; a failure is left in `failure` (the count
// is then 0).
int SerialPort::WriteCopy(std::chrono::steady_clock::time_point deadline, std::optional<PortFailure>& failure)
{
    using Clock = std::chrono::steady_clock;
    const int nLength = static_cast<int>(m_writeCopy.size());
    int nSent = 0;
    while (nSent < nLength) {
        WriteResult written;
        const std::span<const std::uint8_t> rest(m_writeCopy.data() + nSent, static_cast<std::size_t>(nLength - nSent));
        if (!PortCall([&] { written = m_hComm->WriteSome(rest); })) {
            break;  // stopped
        }
        if (written.m_bFailed) {
            failure = PortFailure{kStepWriteFile, written.m_nError};
            m_bFailureLosesLine = written.m_bLost;
            return 0;
        }
        if (written.m_nTaken > 0) {
            nSent += written.m_nTaken;
            continue;
        }
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) {
            break;  // written what the time-outs allow
        }
        WaitRequest request;
        request.m_pStop = &m_hStopEvent;
        request.m_bWritable = true;
        request.m_nTimeoutMs = static_cast<int>(remaining);
        const WaitResult woken = m_hComm->Wait(request);
        if (woken.m_eSlot == WaitSlot::Failed) {
            failure = PortFailure{kStepWriteResult, woken.m_nError};
            break;
        }
        if (woken.m_eSlot != WaitSlot::Writable) {
            break;  // stopped, or out of time
        }
    }
    return nSent;
}

// Writes the send buffer once: purge, then a counted write within the write
// time-outs, finished when its bytes have left the line. The buffer is
// copied under its own lock first, so Send on the owner's thread neither
// overlaps the write nor waits for it.
void SerialPort::SendPending()
{
    if (IsSuspended()) {
        return;  // the request stays set and is served after resume
    }
    {
        // Taking the request and its data is one step: a Send that comes
        // after it raises the request again with new data, never the same.
        const std::lock_guard sendLock(m_csSend);
        m_hSendEvent.Reset();
        m_writeCopy.assign(m_pSendBuffer.begin(), m_pSendBuffer.begin() + m_nSendLength);
    }
    const int nLength = static_cast<int>(m_writeCopy.size());
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() +
        std::chrono::milliseconds(static_cast<long long>(m_timeouts.m_nWriteTotalTimeoutMultiplier) * nLength +
                                  m_timeouts.m_nWriteTotalTimeoutConstant);
    if (!PortCall([&] { m_hComm->Purge(); })) {
        return;  // stopped: the stop is served next, nothing is written
    }
    std::optional<PortFailure> failure;
    m_bFailureLosesLine = false;
    int nSent = WriteCopy(deadline, failure);
    if (!failure && nSent == nLength && nLength > 0) {
        const int nLeft = DrainOutput(deadline, failure);
        nSent = nLeft == kOutputLineLost ? 0 : nSent - nLeft;
    }
    if (failure && m_bFailureLosesLine) {
        LineLost(*failure);
    } else if (failure) {
        ReportError(*failure, StopSignal());
    }
    if (nSent != nLength) {
        Trace(FormatText("WARNING: WriteFile() error.. Bytes Sent: %d; Message Length: %d\n", nSent, nLength));
    }
}

// Finished once the bytes have left the line: the next purge must never cut
// our own message short on a real UART. Meanwhile the line is served, so a
// byte the device sends while our output drains is handed over at once. A
// query that finds the line gone ends the drain with `lost` set.
int SerialPort::DrainOutput(std::chrono::steady_clock::time_point deadline, std::optional<PortFailure>& lost)
{
    const auto queued = [this, &lost]() {
        if (m_bLineLost) {
            return kOutputLineLost;  // told already, while the drain served the line
        }
        QueueQuery queue;
        if (!PortCall([&] { queue = m_hComm->OutputQueued(); })) {
            return -1;  // stopped: nothing more to wait for
        }
        if (queue.m_eOutcome == QueueOutcome::Lost) {
            lost = PortFailure{kStepWriteResult, queue.m_nError};
            m_bFailureLosesLine = true;
            return kOutputLineLost;
        }
        return queue.m_eOutcome == QueueOutcome::Known ? queue.m_nQueued : -1;
    };
    return WaitForOutputDrained(queued, m_lineState.m_nBaud, deadline,
                                [this](int nMilliseconds) { return ServeLineFor(nMilliseconds); });
}

// Waits up to `nMilliseconds` for the stop or the line, serving the line if
// it comes. False when the drain must end: a stop, or a line now lost.
bool SerialPort::ServeLineFor(int nMilliseconds)
{
    WaitRequest request;
    request.m_pStop = &m_hStopEvent;
    request.m_eLine = LineToWatch();
    request.m_nTimeoutMs = nMilliseconds;
    const WaitResult woken = m_hComm->Wait(request);
    if (woken.m_eSlot == WaitSlot::Line) {
        ServeLine();
    }
    const bool bGoOn = woken.m_eSlot == WaitSlot::Line || woken.m_eSlot == WaitSlot::TimedOut;
    return bGoOn && !IsStopRequested() && !m_bLineLost;
}

}  // namespace varnis
