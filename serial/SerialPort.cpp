#include "serial/SerialPort.h"

#include "serial/PortBackend.h"
#include "serial/Text.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace varnis {

namespace {

constexpr const char* kErrorCaption = "Application Error";

// Broken preconditions: fatal in debug builds; in release builds the call is
// refused instead of running on with a bad value.
void PreconditionFailed(const char* text)
{
#ifndef NDEBUG
    const std::string message = FormatText("Assertion failed: %s, file SerialPort\n", text);
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::abort();
#else
    Trace(FormatText("Precondition failed: %s, file SerialPort; call ignored\n", text));
#endif
}

}  // namespace

int WaitForOutputDrained(const std::function<int()>& queued, int nBaud, std::chrono::steady_clock::time_point deadline,
                         const std::function<bool(int nMilliseconds)>& wait)
{
    using Clock = std::chrono::steady_clock;
    const long long nBitsPerSecond = nBaud > 0 ? nBaud : 9600;
    for (;;) {
        const int nQueued = queued();
        if (nQueued == kOutputLineLost) {
            return kOutputLineLost;
        }
        if (nQueued <= 0) {
            return 0;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return nQueued;
        }
        // Ten bits a byte on the line (start, eight data, stop), at least 1 ms.
        const long long nNeedMs = std::max<long long>(1, (nQueued * 10LL * 1000 + nBitsPerSecond - 1) / nBitsPerSecond);
        if (!wait(static_cast<int>(std::min<long long>(nNeedMs, left)))) {
            const int nLast = queued();  // ended early: one last look
            return nLast == kOutputLineLost ? kOutputLineLost : std::max(nLast, 0);
        }
    }
}

int WaitForOutputDrained(const std::function<int()>& queued, int nBaud, std::chrono::steady_clock::time_point deadline,
                         NativeHandle hCancel)
{
    const std::array<NativeHandle, 1> cancel{hCancel};
    return WaitForOutputDrained(queued, nBaud, deadline, [&cancel](int nMilliseconds) {
        return WaitForAny(cancel, nMilliseconds) == kWaitTimedOut;
    });
}

SerialPort::SerialPort() : m_hComm(CreatePortBackend()) {}

SerialPort::~SerialPort()
{
    RequestStop();
    StopMonitorThread(false);
    ReleasePort();
    Trace("Thread ended\n");
}

void SerialPort::SetPortTable(const PortTable& table)
{
    m_portTable = table;
}

void SerialPort::SetErrorReporter(IErrorReporter* pReporter)
{
    m_pReporter.store(pReporter);
}

// Set on the owner's thread; from this moment no notification of the line
// starts on the owner's thread (see HandOverChannel), whether or not the
// monitoring thread has woken up yet.
void SerialPort::RequestStop()
{
    m_bStopRequested.store(true);
    if (m_hStopEvent.IsCreated()) {
        m_hStopEvent.Set();
    }
}

void SerialPort::StopMonitorThread(bool bTraceEnd)
{
    const bool bWasAlive = m_bMonitorAlive.load();
    RequestStop();
    if (!m_pMonitorThread) {
        return;
    }
    // Every wait of the thread includes the stop event, so this join is short.
    m_pMonitorThread->Join();
    m_pMonitorThread.reset();
    if (!m_hComm->IsOpen()) {
        m_hComm->Release();  // what Close retired
    }
    if (bWasAlive && bTraceEnd) {
        Trace("Thread ended\n");
    }
}

// Lets go of the device at once. While a monitoring thread may still use the
// port, it is retired rather than closed, and closed once the thread has
// ended.
void SerialPort::ReleasePort()
{
    if (!m_hComm->IsOpen()) {
        return;
    }
    if (m_pMonitorThread) {
        m_hComm->Retire();
    } else {
        m_hComm->Release();
    }
}

bool SerialPort::Initialise(ISerialOwner* pPortOwner, unsigned portnr, int baud, char parity, int databits,
                            int stopbits, std::uint32_t eventMask, int sendBufferSize)
{
    if (!(portnr > 0 && portnr < 11)) {
        PreconditionFailed("portnr > 0 && portnr < 11");
        return false;
    }
    if (pPortOwner == nullptr) {
        PreconditionFailed("pPortOwner != NULL");
        return false;
    }

    // The old line stops here, on the owner's thread: none of its
    // notifications runs any more, even before its thread has ended.
    StopMonitorThread(true);

    const PortTable table = m_portTable ? *m_portTable : PortTable::FromSystem();
    const std::string path = table.PathOf(portnr);
    m_lastOpenFailure = OpenFailure{};  // not tried yet
    m_strLastOpenPath = path;
    for (EventFlag* pEvent : {&m_hSendEvent, &m_hStopEvent, &m_hWakeEvent}) {
        if (pEvent->IsCreated()) {
            pEvent->Reset();
        } else if (!pEvent->Create()) {
            return false;
        }
    }
    m_bStopRequested.store(false);
    m_nSuspendCount.store(0);
    m_nCatchUpTags.store(0);  // the old line's requests die with it

    m_pNotifyWnd = pPortOwner;
    {
        const std::lock_guard sendLock(m_csSend);
        m_pSendBuffer.assign(static_cast<std::size_t>(std::max(sendBufferSize, 0)), 0);
        m_nSendLength = 0;
    }
    m_nPortNumber = portnr;
    m_nSendBufferSize = sendBufferSize;
    m_dwEventMask = eventMask;

    const std::string settingsText = FormatText("baud=%d parity=%c data=%d stop=%d", baud, parity, databits, stopbits);
    m_strNamedPath = table.IsNamedByPath(portnr) ? path : std::string();

    // Under the port lock only what touches the port; what goes out of the
    // engine (the trace, an error report and the box that shows it, with the
    // owner's handlers running inside it) comes after the lock is released.
    std::string skipped;
    std::optional<PortFailure> failure;
    {
        const std::lock_guard lock(m_csPort);
        ReleasePort();
        if (path.empty()) {
            return false;
        }
        if (m_hComm->Open(path, skipped, m_lastOpenFailure.emplace())) {
            m_lastOpenFailure.reset();
            m_timeouts = CommTimeouts{1000, 1000, 1000, 1000, 1000};
            failure = m_hComm->Configure(m_timeouts, m_dwEventMask, settingsText, m_lineState);
            m_hComm->Purge();
        } else if (skipped.empty()) {
            skipped = "cannot be opened";
        }
    }
    if (!skipped.empty()) {
        // Skipped without a box; the trace says why (no permission, gone, ...).
        Trace(FormatText("Cannot open %s: %s\n", path.c_str(), skipped.c_str()));
        return false;
    }
    Trace(FormatText("Initialisation for communicationport %d completed.\nUse Startmonitor to communicate.\n",
                     static_cast<int>(portnr)));
    if (failure) {
        // The owner may run any handler inside the report, this engine's
        // Initialise, Send or Close included; nothing here is touched after it.
        ReportError(*failure, CancelSignal{});
    }
    return true;
}

PortDiagnosis SerialPort::LastOpenFailure() const
{
    return m_lastOpenFailure ? DiagnoseOpenFailure(m_strLastOpenPath, *m_lastOpenFailure) : PortDiagnosis{};
}

bool SerialPort::StartMonitor()
{
    if (m_pMonitorThread && m_bMonitorAlive.load()) {
        return true;  // one thread per engine: a second one would race the first on the port
    }
    if (m_pMonitorThread) {
        m_pMonitorThread->Join();  // it has served its stop request already
        m_pMonitorThread.reset();
        if (!m_hComm->IsOpen()) {
            m_hComm->Release();
        }
    }
    if (!m_hStopEvent.IsCreated() || m_pNotifyWnd == nullptr) {
        return false;  // never initialised
    }
    auto pThread = std::make_unique<WorkerThread>();
    // The purge the thread starts with is done here, before it runs: a byte
    // that arrives once StartMonitor has returned is never discarded by a
    // thread that happened to start late.
    if (m_hComm->IsOpen()) {
        const std::lock_guard lock(m_csPort);
        m_hComm->Purge();
    }
    m_bMonitorAlive.store(true);
    const bool bWatchLine = m_hComm->IsOpen();  // asked here: Close may retire the port while the thread starts
    if (!pThread->Start([this, bWatchLine]() { MonitorThread(bWatchLine); })) {
        m_bMonitorAlive.store(false);
        return false;
    }
    m_pMonitorThread = std::move(pThread);
    Trace("Thread started\n");
    return true;
}

bool SerialPort::RequestCatchUp(std::uint32_t nTag)
{
    if (nTag >= 32 || !m_pMonitorThread || !m_bMonitorAlive.load() || IsStopRequested()) {
        return false;
    }
    m_nCatchUpTags.fetch_or(1U << nTag);
    m_hWakeEvent.Set();
    return true;
}

// The thread is not suspended from outside (not every system can, and a
// thread stopped inside a call could hold what others need); it honours a
// pause at its wait instead: while suspended it neither notifies nor writes, and
// waits for stop or resume only.
bool SerialPort::SuspendMonitor()
{
    Trace("Thread suspended\n");
    m_nSuspendCount.fetch_add(1);
    if (m_hWakeEvent.IsCreated()) {
        m_hWakeEvent.Set();
    }
    return true;
}

bool SerialPort::ResumeMonitor()
{
    Trace("Thread resumed\n");
    int nCount = m_nSuspendCount.load();
    while (nCount > 0 && !m_nSuspendCount.compare_exchange_weak(nCount, nCount - 1)) {
    }
    if (m_hWakeEvent.IsCreated()) {
        m_hWakeEvent.Set();
    }
    return true;
}

void SerialPort::Send(const char* text)
{
    if (!m_hComm->IsOpen()) {
        PreconditionFailed("m_hComm != 0");
        return;
    }
    const std::size_t nLength = text == nullptr ? 0 : std::strlen(text);
    // The text goes in with its terminator, so it needs one byte more.
    if (text == nullptr || nLength + 1 > static_cast<std::size_t>(std::max(m_nSendBufferSize, 0))) {
        Trace(FormatText("WARNING: Send() refused.. Message Length: %llu; Send Buffer Size: %d\n",
                         static_cast<unsigned long long>(nLength), m_nSendBufferSize));
        return;
    }
    // The request is raised under the same lock as the copy: the thread
    // takes both together, so each Send is written once and the last one's
    // data is what goes out.
    const std::lock_guard lock(m_csSend);
    std::memcpy(m_pSendBuffer.data(), text, nLength + 1);
    m_nSendLength = static_cast<int>(nLength);
    m_hSendEvent.Set();
}

void SerialPort::Send(std::span<const std::uint8_t> data)
{
    if (!m_hComm->IsOpen()) {
        PreconditionFailed("m_hComm != 0");
        return;
    }
    // More than the buffer holds is refused whole: a cut message would be
    // a different message on the line.
    if (data.size() > static_cast<std::size_t>(std::max(m_nSendBufferSize, 0))) {
        Trace(FormatText("WARNING: Send() refused.. Message Length: %llu; Send Buffer Size: %d\n",
                         static_cast<unsigned long long>(data.size()), m_nSendBufferSize));
        return;
    }
    const std::lock_guard lock(m_csSend);
    std::copy(data.begin(), data.end(), m_pSendBuffer.begin());
    m_nSendLength = static_cast<int>(data.size());
    m_hSendEvent.Set();
}

bool SerialPort::Close()
{
    const std::lock_guard lock(m_csPort);
    RequestStop();
    ReleasePort();
    return true;
}

LineSettings SerialPort::GetLineSettings() const
{
    return m_lineState;
}

std::uint32_t SerialPort::GetEventMask() const
{
    return m_dwEventMask;
}

int SerialPort::GetSendBufferSize() const
{
    return m_nSendBufferSize;
}

bool SerialPort::IsMonitorAlive() const
{
    return m_bMonitorAlive.load();
}

void SerialPort::ReportError(const PortFailure& failure, const CancelSignal& cancel, bool bLineLost) const
{
    const std::string port = m_strNamedPath.empty() ? std::to_string(m_nPortNumber) : m_strNamedPath;
    const std::string text = FormatText("WARNING:  %s Failed with the following error: \n%s\nPort: %s\n",
                                        failure.m_label, SystemErrorText(failure.m_nError).c_str(), port.c_str());
    if (IErrorReporter* pReporter = m_pReporter.load()) {
        if (bLineLost) {
            pReporter->ReportLineLost(text, kErrorCaption, cancel);
        } else {
            pReporter->ReportError(text, kErrorCaption, cancel);
        }
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
}

bool SerialPort::Notify(std::uint32_t nMessage, std::uint32_t nWParam)
{
    const SerialNotification notification{nMessage, nWParam, m_nPortNumber};
    m_pNotifyWnd->DeliverNotification(notification, StopSignal());
    return !IsStopRequested();
}

}  // namespace varnis
