// The engine's port on Windows: a communications device opened not shared
// and overlapped, configured with the comm calls, its line events waited for
// with WaitCommEvent beside the engine's own events in WaitForMultipleObjects.
// No call here loops: every wait is a wait of the system's.
#include "serial/PortBackend.h"
#include "serial/Text.h"

#include <windows.h>

#include <array>
#include <mutex>
#include <vector>

namespace varnis {

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;  // 15
// How long Release waits for a transfer that closing the port has aborted.
constexpr DWORD kAbortWaitMs = 1000;

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

    bool Open(const std::string& path, std::string& strReason) override;
    bool IsOpen() const override { return m_hComm != INVALID_HANDLE_VALUE; }
    std::optional<PortFailure> Configure(const CommTimeouts& timeouts, std::uint32_t eventMask,
                                         const std::string& settingsText, LineSettings& lineState) override;
    void Purge() override;
    void Retire() override;
    void Release() override;

    WaitResult Wait(const WaitRequest& request) override;
    LineQuery QueryLine() override;
    ReadResult ReadByte() override;
    WriteResult WriteSome(std::span<const std::uint8_t> data) override;
    QueueQuery OutputQueued() override;
    void DiscardOutput() override;

private:
    std::optional<WaitResult> StartLineWait();
    void FinishWrite();

    // Set by Open, cleared by Retire and Release. Retire runs while the
    // monitoring thread may be about to start a line wait: m_csHandle keeps
    // that start and the closing apart, so a wait is never started on a
    // handle that has been closed (and perhaps given to another file).
    HANDLE m_hComm = INVALID_HANDLE_VALUE;
    std::mutex m_csHandle;
    // The monitoring thread's own.
    Transfer m_line;  // WaitCommEvent
    DWORD m_dwLineEvents = 0;
    Transfer m_read;
    std::uint8_t m_nReadByte = 0;
    Transfer m_write;
    std::vector<std::uint8_t> m_writeBuffer;  // what a pending write reads from
};

bool Win32PortBackend::Open(const std::string& path, std::string& strReason)
{
    Release();
    HANDLE hComm = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
    if (hComm == INVALID_HANDLE_VALUE) {
        const int nError = LastError();
        strReason = nError == ERROR_ACCESS_DENIED ? "in use (held by another program)" : SystemErrorText(nError);
        return false;
    }
    if (!m_line.Create() || !m_read.Create() || !m_write.Create()) {
        strReason = SystemErrorText(LastError());
        CloseHandle(hComm);
        Release();
        return false;
    }
    const std::lock_guard lock(m_csHandle);
    m_hComm = hComm;
    return true;
}

// Time-outs, event mask, then the line: read, RTS on, rebuilt from the
// settings text, applied. The first step that fails ends it.
std::optional<PortFailure> Win32PortBackend::Configure(const CommTimeouts& timeouts, std::uint32_t eventMask,
                                                       const std::string& settingsText, LineSettings& lineState)
{
    COMMTIMEOUTS comm{};
    comm.ReadIntervalTimeout = static_cast<DWORD>(timeouts.m_nReadIntervalTimeout);
    comm.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.m_nReadTotalTimeoutMultiplier);
    comm.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.m_nReadTotalTimeoutConstant);
    comm.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.m_nWriteTotalTimeoutMultiplier);
    comm.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.m_nWriteTotalTimeoutConstant);
    if (!SetCommTimeouts(m_hComm, &comm)) {
        return PortFailure{kStepSetCommTimeouts, LastError()};
    }
    if (!SetCommMask(m_hComm, eventMask)) {
        return PortFailure{kStepSetCommMask, LastError()};
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_hComm, &dcb)) {
        return PortFailure{kStepGetCommState, LastError()};
    }
    lineState = SettingsOf(dcb);
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!BuildCommDCBA(settingsText.c_str(), &dcb)) {
        return PortFailure{kStepBuildCommDcb, LastError()};
    }
    lineState = SettingsOf(dcb);
    if (!SetCommState(m_hComm, &dcb)) {
        return PortFailure{kStepSetCommState, LastError()};
    }
    return std::nullopt;
}

void Win32PortBackend::Purge()
{
    PurgeComm(m_hComm, kPurgeAll);
    FinishWrite();  // the purge aborted it
}

void Win32PortBackend::DiscardOutput()
{
    PurgeComm(m_hComm, PURGE_TXABORT | PURGE_TXCLEAR);
    FinishWrite();
}

// Closing the handle lets go of the device at once and ends the transfers
// in flight (their events are signalled); the blocks stay until Release.
void Win32PortBackend::Retire()
{
    const std::lock_guard lock(m_csHandle);
    if (m_hComm != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hComm);
        m_hComm = INVALID_HANDLE_VALUE;
    }
}

void Win32PortBackend::Release()
{
    if (m_hComm != INVALID_HANDLE_VALUE) {
        PurgeComm(m_hComm, PURGE_TXABORT | PURGE_TXCLEAR);  // closing never waits on queued output
        Retire();
    }
    m_line.Destroy();
    m_read.Destroy();
    m_write.Destroy();
}

// Starts WaitCommEvent unless one is pending. A wait that completes at once
// has signalled its event, so the engine's wait returns at once for it.
// Nothing when the handle is gone or the mask is refused (error 87): the
// engine's wait then goes on without the line.
std::optional<WaitResult> Win32PortBackend::StartLineWait()
{
    const std::lock_guard lock(m_csHandle);
    if (m_hComm == INVALID_HANDLE_VALUE || m_line.m_bPending) {
        return std::nullopt;
    }
    m_dwLineEvents = 0;
    if (WaitCommEvent(m_hComm, &m_dwLineEvents, &m_line.m_ov)) {
        SetEvent(m_line.m_ov.hEvent);
        m_line.m_bPending = true;
        return std::nullopt;
    }
    const int nError = LastError();
    if (nError == ERROR_IO_PENDING) {
        m_line.m_bPending = true;
        return std::nullopt;
    }
    if (nError == ERROR_INVALID_PARAMETER) {
        return std::nullopt;
    }
    return WaitResult{WaitSlot::Failed, nError};
}

WaitResult Win32PortBackend::Wait(const WaitRequest& request)
{
    if (request.m_eLine != LineWatch::None) {
        if (const std::optional<WaitResult> failed = StartLineWait()) {
            return *failed;
        }
    }
    const auto eventOf = [](const EventFlag* pFlag) { return pFlag != nullptr ? pFlag->Handle() : kNoNativeHandle; };
    // A write that finished (or never started) leaves nothing to wait for:
    // the line is as writable as it will get within the time-outs.
    if (request.m_bWritable && !m_write.m_bPending) {
        return WaitResult{IsHandleSignalled(eventOf(request.m_pStop)) ? WaitSlot::Stop : WaitSlot::TimedOut, 0};
    }
    // Lowest slot first, in the order of WaitSlot.
    const std::array<NativeHandle, 5> handles{
        eventOf(request.m_pStop),
        eventOf(request.m_pWake),
        request.m_eLine != LineWatch::None && m_line.m_bPending ? m_line.Event() : kNoNativeHandle,
        request.m_bWritable ? m_write.Event() : kNoNativeHandle,
        eventOf(request.m_pSend),
    };
    const int nIndex = WaitForAny(handles, request.m_nTimeoutMs);
    if (nIndex == kWaitTimedOut) {
        return WaitResult{WaitSlot::TimedOut, 0};
    }
    if (nIndex < 0) {
        return WaitResult{WaitSlot::Failed, LastError()};
    }
    const auto eSlot = static_cast<WaitSlot>(nIndex);
    if (eSlot == WaitSlot::Line) {
        // The wait has ended (with events, or ended by the system); which
        // events does not matter: the engine acts on its mask.
        m_line.m_bPending = false;
        ResetEvent(m_line.m_ov.hEvent);
    }
    return WaitResult{eSlot, 0};
}

// ClearCommError clears an error condition and tells the bytes waiting; a
// device that has gone (unplugged) fails it.
LineQuery Win32PortBackend::QueryLine()
{
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (m_hComm == INVALID_HANDLE_VALUE) {
        return LineQuery{0, true, ERROR_INVALID_HANDLE};
    }
    if (!ClearCommError(m_hComm, &dwErrors, &stat)) {
        return LineQuery{0, true, LastError()};
    }
    return LineQuery{static_cast<int>(stat.cbInQue), false, 0};
}

// One byte, read only when the input queue holds one, so the read completes
// at once; a read that is still pending is waited for (within the read
// time-outs).
ReadResult Win32PortBackend::ReadByte()
{
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (!ClearCommError(m_hComm, &dwErrors, &stat)) {
        return ReadResult{ReadOutcome::Failed, 0, LastError()};
    }
    if (stat.cbInQue == 0) {
        return ReadResult{};
    }
    DWORD dwRead = 0;
    if (!ReadFile(m_hComm, &m_nReadByte, 1, &dwRead, &m_read.m_ov)) {
        const int nError = LastError();
        if (nError != ERROR_IO_PENDING) {
            return ReadResult{ReadOutcome::Failed, 0, nError};
        }
        m_read.m_bPending = true;
        const BOOL bDone = GetOverlappedResult(m_hComm, &m_read.m_ov, &dwRead, TRUE);
        m_read.m_bPending = false;
        if (!bDone) {
            return ReadResult{ReadOutcome::Failed, 0, LastError()};
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
        if (GetOverlappedResult(m_hComm, &m_write.m_ov, &dwWritten, FALSE)) {
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
    if (WriteFile(m_hComm, m_writeBuffer.data(), static_cast<DWORD>(m_writeBuffer.size()), &dwWritten, &m_write.m_ov)) {
        return WriteResult{static_cast<int>(dwWritten), false, false, 0};
    }
    const int nError = LastError();
    if (nError == ERROR_IO_PENDING) {
        m_write.m_bPending = true;
        return WriteResult{};
    }
    return WriteResult{0, true, IsLineGone(nError), nError};
}

void Win32PortBackend::FinishWrite()
{
    if (m_write.m_bPending && m_hComm != INVALID_HANDLE_VALUE) {
        DWORD dwWritten = 0;
        GetOverlappedResult(m_hComm, &m_write.m_ov, &dwWritten, TRUE);  // aborted: ends at once
    }
    m_write.m_bPending = false;
}

QueueQuery Win32PortBackend::OutputQueued()
{
    DWORD dwErrors = 0;
    COMSTAT stat{};
    if (!ClearCommError(m_hComm, &dwErrors, &stat)) {
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
