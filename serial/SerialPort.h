// The serial port engine: opens and configures one port, runs a monitoring
// thread that notifies every received byte to its owner, and writes the data
// handed to it.
//
// Threads: every public operation runs on the owner's thread. The monitoring
// thread does all port input and output after Initialise; it hands each
// notification to the owner synchronously (ISerialOwner) and holds no lock
// meanwhile, so a handler may call Send.
//
// Rules that keep the engine sound when the owner runs nested event loops
// (every message box does, and timers and notifications run inside it):
// - No lock of the engine is held across a call out of the engine: an error
//   report, a notification, a trace line, an owner callback. A failure is
//   recorded under the lock and reported after the lock has been released,
//   so whatever the owner runs inside the report (another Initialise, Send,
//   Close) finds the engine free. After such a call the engine touches none
//   of the state the nested call may have changed.
// - Stopping is decisive and decided on the owner's thread: once Close, the
//   next Initialise or the destructor has returned there, no notification of
//   the old line runs, whether it was posted, queued or half-delivered; the
//   monitoring thread need not have woken up for that.
// - A notification handler may call Close or even Initialise (the stop
//   cancels the monitoring thread's wait for that very handler, which then
//   goes on to its end); it must not destroy the engine.
// - Each Send is written once: the request and its data are taken together.
#pragma once

#include "serial/Fd.h"
#include "serial/PortTable.h"
#include "serial/SerialNotify.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnis {

// The line settings as last applied (what a DCB held).
struct LineSettings {
    int m_nBaud = 0;
    char m_cParity = 'N';
    int m_nDataBits = 8;
    int m_nStopBits = 1;
    bool m_bRts = false;
};

// Read and write time-outs, milliseconds. Reads and writes wait in poll()
// for at most total = multiplier * bytes + constant.
struct CommTimeouts {
    int m_nReadIntervalTimeout = 0;
    int m_nReadTotalTimeoutMultiplier = 0;
    int m_nReadTotalTimeoutConstant = 0;
    int m_nWriteTotalTimeoutMultiplier = 0;
    int m_nWriteTotalTimeoutConstant = 0;
};

// Parses a settings text "baud=%d parity=%c data=%d stop=%d" (keys in any
// order, each optional) over `settings`. False when the text is malformed or
// holds a value no serial line has (parity other than N/E/O/M/S, data bits
// outside 5..8, stop bits other than 1, 1.5 or 2, a baud rate of 0 or less).
bool BuildLineSettings(const std::string& text, LineSettings& settings);

// A write has finished when its bytes have left, not when write() has queued
// them. Waits until `queued()` (the bytes still in the output queue; negative
// when the line cannot tell, which counts as empty) is 0: between looks it
// sleeps about as long as the queued bytes need at `nBaud`, never past
// `deadline`, and it returns at once when `hCancelFd` becomes readable.
// Returns the bytes still queued at the end (0: all have left).
int WaitForOutputDrained(const std::function<int()>& queued, int nBaud, std::chrono::steady_clock::time_point deadline,
                         int hCancelFd);

class SerialPort {
public:
    SerialPort();
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Set before Initialise. Without a table the machine's own ports are used;
    // without a reporter errors go to standard error.
    void SetPortTable(const PortTable& table);
    void SetErrorReporter(IErrorReporter* pReporter);

    bool Initialise(ISerialOwner* pPortOwner, unsigned portnr = 1, int baud = 19200, char parity = 'N',
                    int databits = 8, int stopbits = 1, std::uint32_t eventMask = EV_RXCHAR | EV_CTS,
                    int sendBufferSize = 512);
    bool StartMonitor();
    bool SuspendMonitor();
    bool ResumeMonitor();

    void Send(const char* text);
    void Send(std::span<const std::uint8_t> data);
    bool Close();

    LineSettings GetLineSettings() const;
    std::uint32_t GetEventMask() const;
    int GetSendBufferSize() const;
    // True while the monitoring thread runs (from StartMonitor until it has
    // served a stop request).
    bool IsMonitorAlive() const;

private:
    void MonitorThread(int hComm);
    void ServeLine(int hComm, short nRevents, bool& bWatchLine);
    void ReceivePending(int hComm, bool& bWatchLine);
    void SendPending(int hComm);
    bool Notify(std::uint32_t nMessage, std::uint32_t nWParam);  // false once a stop has cut it short
    struct PortFailure {
        const char* m_label = nullptr;  // the step, as the report names it
        int m_nError = 0;
    };
    void RequestStop();
    void StopMonitorThread(bool bTraceEnd);
    void ReleasePort();
    std::optional<PortFailure> ConfigurePort(const std::string& settingsText);
    void ReportError(const char* label, int nError, const CancelSignal& cancel) const;
    bool IsStopRequested() const { return m_bStopRequested.load(); }
    CancelSignal StopSignal() const { return CancelSignal{m_hStopEvent.Fd(), &m_bStopRequested}; }
    bool IsSuspended() const { return m_nSuspendCount.load() > 0; }

    int m_nSendLength = 0;                          // guarded by m_csSend
    std::unique_ptr<WorkerThread> m_pMonitorThread; // owner's thread only
    mutable std::mutex m_csPort;                    // the port lock
    std::mutex m_csSend;                            // the send buffer and m_nSendLength
    std::atomic<bool> m_bMonitorAlive{false};
    EventFlag m_hStopEvent;
    std::atomic<bool> m_bStopRequested{false};  // set with m_hStopEvent, read without a system call
    UniqueFd m_hComm;        // the open port; owner's thread
    UniqueFd m_hRetiredComm; // a closed port's descriptor number, kept until the thread has ended
    EventFlag m_hSendEvent;
    EventFlag m_hWakeEvent;  // suspend/resume: makes the thread look at m_nSuspendCount again
    std::atomic<int> m_nSuspendCount{0};
    CommTimeouts m_timeouts;
    LineSettings m_lineState;
    ISerialOwner* m_pNotifyWnd = nullptr;
    unsigned m_nPortNumber = 0;
    std::vector<std::uint8_t> m_pSendBuffer;  // guarded by m_csSend
    std::uint32_t m_dwEventMask = 0;
    int m_nSendBufferSize = 0;

    std::optional<PortTable> m_portTable;
    std::atomic<IErrorReporter*> m_pReporter{nullptr};
    std::vector<std::uint8_t> m_writeCopy;  // the monitoring thread's copy of the send buffer
};

}  // namespace varnis
