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
void SerialPort::MonitorThread()
{
    m_bMonitorAlive.store(true);
    // Bytes are read only when their arrival is monitored; otherwise they
    // stay queued and only the line's end wakes the thread.
    const LineWatch eWatch = (m_dwEventMask & EV_RXCHAR) != 0 ? LineWatch::Input : LineWatch::HangUpOnly;
    bool bWatchLine = m_hComm->IsOpen();
    for (;;) {
        const bool bSuspended = IsSuspended();
        WaitRequest request;
        request.m_pStop = &m_hStopEvent;
        request.m_pWake = &m_hWakeEvent;
        request.m_pSend = bSuspended ? nullptr : &m_hSendEvent;
        request.m_eLine = bWatchLine && !bSuspended ? eWatch : LineWatch::None;
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
        } else if (woken.m_eSlot == WaitSlot::Line) {
            ServeLine(bWatchLine);
        } else if (woken.m_eSlot == WaitSlot::Send) {
            SendPending();
        }
    }
    m_bMonitorAlive.store(false);
}

// Line activity: the notifications of the monitored events, then the drain.
// A line that ends is reported once and then no longer watched.
void SerialPort::ServeLine(bool& bWatchLine)
{
    if (IsSuspended()) {
        return;
    }
    LineQuery query;
    if (!PortCall([&] { query = m_hComm->QueryLine(); })) {
        return;  // closed under us: the stop is served next
    }
    if (query.m_bLost) {
        bWatchLine = false;
        ReportError(PortFailure{kStepWaitCommEvent, query.m_nError}, StopSignal());
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
    ReceivePending(bWatchLine);
}

// Reads and notifies every waiting byte, one at a time, in order. Bytes that
// arrive while the owner handles one belong to the same drain. The drain
// ends on an empty queue, a stop, a pause, or a failed read (which sends no
// notification and is reported once: the line is then no longer watched).
// The read itself tells whether a byte is waiting: a read of an empty queue
// says so at once, and costs one system call instead of two.
void SerialPort::ReceivePending(bool& bWatchLine)
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
            bWatchLine = false;
            ReportError(PortFailure{kStepReadFile, read.m_nError}, StopSignal());
            return;
        }
        if (!Notify(SPN_RXCHAR, read.m_nByte)) {
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
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(m_timeouts.m_nWriteTotalTimeoutMultiplier) *
                                                     nLength +
                                                 m_timeouts.m_nWriteTotalTimeoutConstant);
    if (!PortCall([&] { m_hComm->Purge(); })) {
        return;  // stopped: the stop is served next, nothing is written
    }
    std::optional<PortFailure> failure;
    int nSent = WriteCopy(deadline, failure);
    if (!failure && nSent == nLength && nLength > 0) {
        // Finished once the bytes have left the line: the next purge
        // must never cut our own message short on a real UART.
        nSent -= WaitForOutputDrained(
            [this]() {
                QueueQuery queue;
                if (!PortCall([&] { queue = m_hComm->OutputQueued(); }) || queue.m_eOutcome != QueueOutcome::Known) {
                    return -1;
                }
                return queue.m_nQueued;
            },
            m_lineState.m_nBaud, deadline, m_hStopEvent.Handle());
    }
    if (failure) {
        ReportError(*failure, StopSignal());
    }
    if (nSent != nLength) {
        Trace(FormatText("WARNING: WriteFile() error.. Bytes Sent: %d; Message Length: %d\n", nSent, nLength));
    }
}

}  // namespace varnis
