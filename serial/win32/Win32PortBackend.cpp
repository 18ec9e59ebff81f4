// The engine's port on Windows: a communications device opened not shared
// and overlapped, configured with the comm calls, its line events waited for
// with WaitCommEvent beside the engine's own events in WaitForMultipleObjects.
// Every wait is a wait of the system's; a line wait that keeps ending with
// nothing to show is armed again at a pace (kLineRearmMs), the input queue
// polled meanwhile (kLinePollMs), never at once.
// The port's calls go through the table of Win32CommCalls.h.
#include "serial/PortBackend.h"
#include "serial/Text.h"
#include "serial/win32/Win32CommCalls.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <vector>

namespace varnis {

namespace win32 {
CommCalls& Comm()
{
    static CommCalls calls;
    return calls;
}
}  // namespace win32

namespace {

using win32::Comm;
using win32::kAbortWaitMs;
using Clock = std::chrono::steady_clock;

#ifndef ERROR_NO_SUCH_DEVICE
constexpr int ERROR_NO_SUCH_DEVICE = 433;  // winerror.h has it; MinGW's does not
#endif

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;  // 15
// Before the port is let go: the transfers in flight end, and input goes.
// What the driver has taken of a finished write is not thrown away.
constexpr DWORD kPurgeOnClose = PURGE_TXABORT | PURGE_RXABORT | PURGE_RXCLEAR;

int LastError()
{
    return static_cast<int>(GetLastError());
}

// What a port's calls fail with once its device has gone (a USB adapter
// pulled out, its driver gone): the line is lost, not merely refusing.
bool IsLineGone(int nError)
{
    switch (nError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
    case ERROR_NO_SUCH_DEVICE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY: return true;
    default: return false;
    }
}

// One asynchronous transfer: its OVERLAPPED block with a manual-reset event.
struct Transfer {
    OVERLAPPED m_ov{};
    bool m_bPending = false;

    bool Create()
    {
        m_ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return m_ov.hEvent != nullptr;
    }
    NativeHandle Event() const { return reinterpret_cast<NativeHandle>(m_ov.hEvent); }
    // Once its device is closed or purged, a transfer ends at once; the
    // block must outlive it.
    bool HasEnded() const { return WaitForSingleObject(m_ov.hEvent, 0) == WAIT_OBJECT_0; }
    void AwaitEnd()
    {
        if (m_bPending && m_ov.hEvent != nullptr) {
            WaitForSingleObject(m_ov.hEvent, kAbortWaitMs);
        }
        m_bPending = false;
    }
    void Destroy()
    {
        AwaitEnd();
        if (m_ov.hEvent != nullptr) {
            CloseHandle(m_ov.hEvent);
        }
        m_ov = OVERLAPPED{};
    }
};

char ParityLetter(BYTE nParity)
{
    switch (nParity) {
    case EVENPARITY: return 'E';
    case ODDPARITY: return 'O';
    case MARKPARITY: return 'M';
    case SPACEPARITY: return 'S';
    default: return 'N';
    }
}

// Every field of the line's control block but the four the settings text
// names: whatever the driver or the last program left in them would
// otherwise stay (a dropped 0x00, input ignored while DSR is low, every
// transfer ended after one line error). Binary, no flow control either way,
// DTR and RTS on.
void SetLineControl(DCB& dcb)
{
    dcb.fBinary = TRUE;
    dcb.fParity = dcb.Parity != NOPARITY ? TRUE : FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (dcb.XonChar == dcb.XoffChar) {
        // Some drivers refuse the block when both are the same, used or not.
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }
}

LineSettings SettingsOf(const DCB& dcb)
{
    LineSettings settings;
    settings.m_nBaud = static_cast<int>(dcb.BaudRate);
    settings.m_cParity = ParityLetter(dcb.Parity);
    settings.m_nDataBits = dcb.ByteSize;
    settings.m_nStopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
    settings.m_bRts = dcb.fRtsControl == RTS_CONTROL_ENABLE;
    return settings;
}

class Win32PortBackend final : public PortBackend {
public:
    ~Win32PortBackend() override { Release(); }

    bool Open(const std::string& path, std::string& strReason, OpenFailure& failure) override;
    bool IsOpen() const override { return m_hComm != INVALID_HANDLE_VALUE; }
    std::optional<PortFailure> Configure(const CommTimeouts& timeouts, std::uint32_t eventMask,
                                         const std::string& settingsText, LineSettings& lineState) override;
    void Purge() override;
    void Retire() override;
    void Release() override;

    WaitResult Wait(const WaitRequest& request) override;
    LineQuery QueryLine() override;
    int InputWaiting() override;
    ReadResult ReadByte() override;
    WriteResult WriteSome(std::span<const std::uint8_t> data) override;
    QueueQuery OutputQueued() override;
    void DiscardOutput() override;

private:
    std::optional<WaitResult> StartLineWait(LineWatch eWatch);
    bool ArmLineWait(int& nError);
    bool EndLineWait(LineWatch eWatch);
    bool PollLine(LineWatch eWatch);
    void PaceLineWait();
    bool IsPacing() const { return Clock::now() < m_paceUntil; }
    void FinishWrite(bool bAborted);

    // Set by Open, cleared by Retire and Release. Retire runs while the
    // monitoring thread may be about to start a line wait: m_csHandle keeps
    // that start and the closing apart, so a wait is never started on a
    // handle that has been closed (and perhaps given to another file).
    HANDLE m_hComm = INVALID_HANDLE_VALUE;
    std::mutex m_csHandle;
    // The monitoring thread's own.
    Transfer m_line;  // WaitCommEvent
    DWORD m_dwLineEvents = 0;
    int m_nLineGone = 0;              // the code a line wait ended with that means the line has gone
    int m_nEmptyEndings = 0;          // line waits in a row that ended with nothing to show
    Clock::time_point m_paceUntil{};  // no line wait is armed before
    Transfer m_read;
    std::uint8_t m_nReadByte = 0;
    Transfer m_write;
    std::vector<std::uint8_t> m_writeBuffer;  // what a pending write reads from
};

bool Win32PortBackend::Open(const std::string& path, std::string& strReason, OpenFailure& failure)
{
    Release();
    m_nLineGone = 0;
    m_nEmptyEndings = 0;
    m_paceUntil = Clock::time_point{};
    HANDLE hComm = Comm().m_pCreateFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OVERLAPPED, nullptr);
    if (hComm == INVALID_HANDLE_VALUE) {
        const int nError = LastError();
        failure = {nError, 0};
        strReason = nError == ERROR_ACCESS_DENIED ? "in use (held by another program)"
                                                  : WithoutLineEnd(SystemErrorText(nError));
        return false;
    }
    if (!m_line.Create() || !m_read.Create() || !m_write.Create()) {
        failure = {LastError(), 0};
        strReason = WithoutLineEnd(SystemErrorText(failure.m_nError));
        Comm().m_pCloseHandle(hComm);
        Release();
        return false;
    }
    const std::lock_guard lock(m_csHandle);
    m_hComm = hComm;
    return true;
}

// Time-outs, event mask, then the line: read, rebuilt from the settings text
// with every other field set (SetLineControl), applied. The first step that
// fails ends it.
std::optional<PortFailure> Win32PortBackend::Configure(const CommTimeouts& timeouts, std::uint32_t eventMask,
                                                       const std::string& settingsText, LineSettings& lineState)
{
    COMMTIMEOUTS comm{};
    comm.ReadIntervalTimeout = static_cast<DWORD>(timeouts.m_nReadIntervalTimeout);
    comm.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.m_nReadTotalTimeoutMultiplier);
    comm.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.m_nReadTotalTimeoutConstant);
    comm.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.m_nWriteTotalTimeoutMultiplier);
    comm.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.m_nWriteTotalTimeoutConstant);
    if (!Comm().m_pSetCommTimeouts(m_hComm, &comm)) {
        return PortFailure{kStepSetCommTimeouts, LastError()};
    }
    if (!Comm().m_pSetCommMask(m_hComm, eventMask)) {
        return PortFailure{kStepSetCommMask, LastError()};
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!Comm().m_pGetCommState(m_hComm, &dcb)) {
        return PortFailure{kStepGetCommState, LastError()};
    }
    lineState = SettingsOf(dcb);
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!BuildCommDCBA(settingsText.c_str(), &dcb)) {
        return PortFailure{kStepBuildCommDcb, LastError()};
    }
    SetLineControl(dcb);
    lineState = SettingsOf(dcb);
    if (!Comm().m_pSetCommState(m_hComm, &dcb)) {
        return PortFailure{kStepSetCommState, LastError()};
    }
    return std::nullopt;
}

void Win32PortBackend::Purge()
{
    FinishWrite(Comm().m_pPurgeComm(m_hComm, kPurgeAll) != 0);
}

void Win32PortBackend::DiscardOutput()
{
    FinishWrite(Comm().m_pPurgeComm(m_hComm, PURGE_TXABORT | PURGE_TXCLEAR) != 0);
}

// The pending line wait is ended by clearing the mask (not every driver ends
// it on close), the transfers in flight by the purge; then the handle lets
// go of the device. The blocks stay until Release.
void Win32PortBackend::Retire()
{
    const std::lock_guard lock(m_csHandle);
    if (m_hComm != INVALID_HANDLE_VALUE) {
        Comm().m_pSetCommMask(m_hComm, 0);
        Comm().m_pPurgeComm(m_hComm, kPurgeOnClose);
        Comm().m_pCloseHandle(m_hComm);
        m_hComm = INVALID_HANDLE_VALUE;
    }
}

void Win32PortBackend::Release()
{
    if (m_hComm != INVALID_HANDLE_VALUE) {
        if (m_write.m_bPending) {
            FinishWrite(Comm().m_pPurgeComm(m_hComm, PURGE_TXABORT) != 0);
        }
        Retire();
    }
    m_line.Destroy();
    m_read.Destroy();
    m_write.Destroy();
}

// Starts WaitCommEvent. True when it is pending (or has completed, its event
// signalled); else `nError` is the code it failed with at once. An abort
// (995, a purge's) is tried again once.
bool Win32PortBackend::ArmLineWait(int& nError)
{
    for (int nTry = 0; nTry < 2; ++nTry) {
        m_dwLineEvents = 0;
        if (Comm().m_pWaitCommEvent(m_hComm, &m_dwLineEvents, &m_line.m_ov)) {
            SetEvent(m_line.m_ov.hEvent);
            return true;
        }
        nError = LastError();
        if (nError == ERROR_IO_PENDING) {
            return true;
        }
        if (nError != ERROR_OPERATION_ABORTED) {
            break;
        }
    }
    return false;
}

// Arms the line wait unless one is pending. Nothing when the handle is gone
// or the mask is refused (error 87: the engine's wait then goes on without
// the line). A Line result when the engine need not wait: input that came
// before the new wait was armed (an event from before it is not promised to
// be kept), or a wait that failed at once, which QueryLine then tells as a
// lost line.
std::optional<WaitResult> Win32PortBackend::StartLineWait(LineWatch eWatch)
{
    const std::lock_guard lock(m_csHandle);
    if (m_hComm == INVALID_HANDLE_VALUE || m_line.m_bPending || m_nLineGone != 0) {
        return std::nullopt;
    }
    int nError = 0;
    if (!ArmLineWait(nError)) {
        if (nError == ERROR_INVALID_PARAMETER) {
            return std::nullopt;
        }
        m_nLineGone = nError;
        return WaitResult{WaitSlot::Line, 0};
    }
    m_line.m_bPending = true;
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (eWatch == LineWatch::Input && Comm().m_pClearCommError(m_hComm, &dwErrors, &stat) && stat.cbInQue > 0) {
        m_nEmptyEndings = 0;
        return WaitResult{WaitSlot::Line, 0};
    }
    return std::nullopt;
}

// After the line wait's event: asks the wait how it ended. True when the
// engine has something to look at: events, input waiting, or a line gone
// (kept for QueryLine). A wait that ended with nothing (no event, an abort,
// an error that is no lost line) is armed again at once the first time in a
// row; after that only once kLineRearmMs have passed, the input queue polled
// meanwhile (PollLine).
bool Win32PortBackend::EndLineWait(LineWatch eWatch)
{
    m_line.m_bPending = false;
    ResetEvent(m_line.m_ov.hEvent);
    const std::lock_guard lock(m_csHandle);
    if (m_hComm == INVALID_HANDLE_VALUE) {
        return true;  // closed under us: the query says so
    }
    DWORD dwUnused = 0;
    if (Comm().m_pGetOverlappedResult(m_hComm, &m_line.m_ov, &dwUnused, FALSE)) {
        if (m_dwLineEvents != 0) {
            m_nEmptyEndings = 0;
            return true;
        }
    } else if (const int nError = LastError(); IsLineGone(nError)) {
        m_nLineGone = nError;
        return true;
    }
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (!Comm().m_pClearCommError(m_hComm, &dwErrors, &stat) || (eWatch == LineWatch::Input && stat.cbInQue > 0)) {
        m_nEmptyEndings = 0;
        return true;
    }
    PaceLineWait();
    return false;
}

void Win32PortBackend::PaceLineWait()
{
    if (++m_nEmptyEndings > 1) {
        m_paceUntil = Clock::now() + std::chrono::milliseconds(win32::kLineRearmMs);
    }
}

// While the line wait is paced: true when the engine has something to look
// at (input waiting, or a line the query finds gone).
bool Win32PortBackend::PollLine(LineWatch eWatch)
{
    const std::lock_guard lock(m_csHandle);
    DWORD dwErrors = 0;
    COMSTAT stat{};
    return m_hComm == INVALID_HANDLE_VALUE || !Comm().m_pClearCommError(m_hComm, &dwErrors, &stat) ||
           (eWatch == LineWatch::Input && stat.cbInQue > 0);
}

WaitResult Win32PortBackend::Wait(const WaitRequest& request)
{
    const auto eventOf = [](const EventFlag* pFlag) { return pFlag != nullptr ? pFlag->Handle() : kNoNativeHandle; };
    // A write that finished (or never started) leaves nothing to wait for:
    // the line is as writable as it will get within the time-outs.
    if (request.m_bWritable && !m_write.m_bPending) {
        return WaitResult{IsHandleSignalled(eventOf(request.m_pStop)) ? WaitSlot::Stop : WaitSlot::TimedOut, 0};
    }
    const bool bLine = request.m_eLine != LineWatch::None;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(request.m_nTimeoutMs, 0));
    const auto msUntil = [](Clock::time_point when) {
        return static_cast<int>(
            std::max<long long>(std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count(), 0));
    };
    for (;;) {
        if (bLine && !IsPacing()) {
            if (const std::optional<WaitResult> now = StartLineWait(request.m_eLine)) {
                return *now;
            }
        }
        const bool bPaced = bLine && !m_line.m_bPending && IsPacing();
        int nTimeoutMs = request.m_nTimeoutMs < 0 ? -1 : msUntil(deadline);
        const int nPollMs = std::min(msUntil(m_paceUntil), static_cast<int>(win32::kLinePollMs));
        if (bPaced && (nTimeoutMs < 0 || nPollMs < nTimeoutMs)) {
            nTimeoutMs = nPollMs;
        }
        // Lowest slot first, in the order of WaitSlot.
        const std::array<NativeHandle, 5> handles{
            eventOf(request.m_pStop),
            eventOf(request.m_pWake),
            bLine && m_line.m_bPending ? m_line.Event() : kNoNativeHandle,
            request.m_bWritable ? m_write.Event() : kNoNativeHandle,
            eventOf(request.m_pSend),
        };
        const int nIndex = WaitForAny(handles, nTimeoutMs);
        if (nIndex == kWaitTimedOut) {
            if (bPaced && PollLine(request.m_eLine)) {
                return WaitResult{WaitSlot::Line, 0};
            }
            if (!bPaced || (request.m_nTimeoutMs >= 0 && Clock::now() >= deadline)) {
                return WaitResult{WaitSlot::TimedOut, 0};
            }
            continue;  // polled, or the pause is over and the wait is armed again
        }
        if (nIndex < 0) {
            return WaitResult{WaitSlot::Failed, LastError()};
        }
        const auto eSlot = static_cast<WaitSlot>(nIndex);
        if (eSlot != WaitSlot::Line || EndLineWait(request.m_eLine)) {
            return WaitResult{eSlot, 0};
        }
    }
}

int Win32PortBackend::InputWaiting()
{
    DWORD dwErrors = 0;
    COMSTAT stat{};
    const std::lock_guard lock(m_csHandle);
    if (m_hComm == INVALID_HANDLE_VALUE || m_nLineGone != 0 || !Comm().m_pClearCommError(m_hComm, &dwErrors, &stat)) {
        return 0;
    }
    return static_cast<int>(stat.cbInQue);
}

// ClearCommError clears an error condition and tells the bytes waiting; a
// device that has gone (unplugged) fails it, or a line wait has said so.
LineQuery Win32PortBackend::QueryLine()
{
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (m_hComm == INVALID_HANDLE_VALUE) {
        return LineQuery{0, true, ERROR_INVALID_HANDLE};
    }
    if (m_nLineGone != 0) {
        return LineQuery{0, true, m_nLineGone};
    }
    if (!Comm().m_pClearCommError(m_hComm, &dwErrors, &stat)) {
        return LineQuery{0, true, LastError()};
    }
    return LineQuery{static_cast<int>(stat.cbInQue), false, 0};
}

// One byte, read only when the input queue holds one, so the read completes
// at once. It runs under the engine's port lock, which Close takes too: a
// read a driver does not end is given kAbortWaitMs, then cancelled and given
// as long again, and fails. A read that outlives even that is never started
// over.
ReadResult Win32PortBackend::ReadByte()
{
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (m_read.m_bPending) {
        return ReadResult{ReadOutcome::Failed, 0, ERROR_OPERATION_ABORTED};
    }
    if (!Comm().m_pClearCommError(m_hComm, &dwErrors, &stat)) {
        return ReadResult{ReadOutcome::Failed, 0, LastError()};
    }
    if (stat.cbInQue == 0) {
        return ReadResult{};
    }
    DWORD dwRead = 0;
    if (!Comm().m_pReadFile(m_hComm, &m_nReadByte, 1, &dwRead, &m_read.m_ov)) {
        const int nError = LastError();
        if (nError != ERROR_IO_PENDING) {
            return ReadResult{ReadOutcome::Failed, 0, nError};
        }
        m_read.m_bPending = true;
        const bool bCancelled = WaitForSingleObject(m_read.m_ov.hEvent, kAbortWaitMs) != WAIT_OBJECT_0;
        if (bCancelled) {
            Comm().m_pCancelIoEx(m_hComm, &m_read.m_ov);
            WaitForSingleObject(m_read.m_ov.hEvent, kAbortWaitMs);
        }
        if (!m_read.HasEnded()) {
            return ReadResult{ReadOutcome::Failed, 0, ERROR_OPERATION_ABORTED};  // Release waits for it, bounded
        }
        m_read.m_bPending = false;
        if (!Comm().m_pGetOverlappedResult(m_hComm, &m_read.m_ov, &dwRead, FALSE)) {
            return ReadResult{ReadOutcome::Failed, 0, LastError()};
        }
        if (bCancelled && dwRead != 1) {
            return ReadResult{ReadOutcome::Failed, 0, ERROR_OPERATION_ABORTED};
        }
    }
    if (dwRead != 1) {
        return ReadResult{};
    }
    return ReadResult{ReadOutcome::Byte, m_nReadByte, 0};
}

// Starts an overlapped write of `data`, or, while one is pending, tells
// whether it has finished. The engine asks again with the same data after
// the write's event (Writable); a purge in between ends the write.
WriteResult Win32PortBackend::WriteSome(std::span<const std::uint8_t> data)
{
    DWORD dwWritten = 0;
    if (m_write.m_bPending) {
        if (Comm().m_pGetOverlappedResult(m_hComm, &m_write.m_ov, &dwWritten, FALSE)) {
            m_write.m_bPending = false;
            return WriteResult{static_cast<int>(dwWritten), false, false, 0};
        }
        const int nError = LastError();
        if (nError == ERROR_IO_INCOMPLETE) {
            return WriteResult{};
        }
        m_write.m_bPending = false;
        return WriteResult{0, true, IsLineGone(nError), nError};
    }
    m_writeBuffer.assign(data.begin(), data.end());
    if (Comm().m_pWriteFile(m_hComm, m_writeBuffer.data(), static_cast<DWORD>(m_writeBuffer.size()), &dwWritten,
                            &m_write.m_ov)) {
        return WriteResult{static_cast<int>(dwWritten), false, false, 0};
    }
    const int nError = LastError();
    if (nError == ERROR_IO_PENDING) {
        m_write.m_bPending = true;
        return WriteResult{};
    }
    return WriteResult{0, true, IsLineGone(nError), nError};
}

// A pending write that a purge was to abort: given kAbortWaitMs to end, then
// cancelled (at once when the purge failed) and given as long again; never
// waited for without bound, since a removed device may never end it.
void Win32PortBackend::FinishWrite(bool bAborted)
{
    if (m_write.m_bPending && m_hComm != INVALID_HANDLE_VALUE) {
        if (!bAborted || WaitForSingleObject(m_write.m_ov.hEvent, kAbortWaitMs) != WAIT_OBJECT_0) {
            Comm().m_pCancelIoEx(m_hComm, &m_write.m_ov);
            WaitForSingleObject(m_write.m_ov.hEvent, kAbortWaitMs);
        }
        if (m_write.HasEnded()) {
            DWORD dwWritten = 0;
            Comm().m_pGetOverlappedResult(m_hComm, &m_write.m_ov, &dwWritten, FALSE);
        }
    }
    m_write.m_bPending = false;
}

QueueQuery Win32PortBackend::OutputQueued()
{
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (!Comm().m_pClearCommError(m_hComm, &dwErrors, &stat)) {
        // A communications device always counts its queue: only one that
        // does not do comm calls at all cannot tell.
        const int nError = LastError();
        const bool bCannotTell = nError == ERROR_INVALID_FUNCTION || nError == ERROR_NOT_SUPPORTED;
        return QueueQuery{bCannotTell ? QueueOutcome::CannotTell : QueueOutcome::Lost, 0, nError};
    }
    return QueueQuery{QueueOutcome::Known, static_cast<int>(stat.cbOutQue), 0};
}

}  // namespace

std::unique_ptr<PortBackend> CreatePortBackend()
{
    return std::make_unique<Win32PortBackend>();
}

}  // namespace varnis
