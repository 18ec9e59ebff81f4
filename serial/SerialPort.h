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
// - A line that goes away (unplugged, hung up) is reported once, then the
//   owner is told with SPN_LINE_LOST through the same hand-over, and the
//   thread no longer watches the line; it still serves stop and send.
#pragma once

#include "serial/EventFlag.h"
#include "serial/LineSettings.h"
#include "serial/PortDiagnosis.h"
#include "serial/PortTable.h"
#include "serial/SerialNotify.h"
#include "serial/WorkerThread.h"

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

class PortBackend;
struct PortFailure;
enum class LineWatch : std::uint8_t;

// What `queued` below gives for a line that has gone (a failure of the
// query that means the line is lost, not that it cannot tell).
inline constexpr int kOutputLineLost = -2;

// A write has finished when its bytes have left, not when the system has
// queued them. Waits until `queued()` (the bytes still in the output queue;
// -1 when the line cannot tell, which counts as empty) is 0: between looks
// it calls `wait` with about as long as the queued bytes need at `nBaud`,
// never past `deadline`; `wait` serves whatever comes meanwhile and returns
// false when the drain must end at once. Returns the bytes still queued at
// the end (0: all have left), or kOutputLineLost as soon as `queued` says so.
int WaitForOutputDrained(const std::function<int()>& queued, int nBaud, std::chrono::steady_clock::time_point deadline,
                         const std::function<bool(int nMilliseconds)>& wait);
// The same with a wait that only a signal of `hCancel` ends early.
int WaitForOutputDrained(const std::function<int()>& queued, int nBaud, std::chrono::steady_clock::time_point deadline,
                         NativeHandle hCancel);

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
    // Asks the monitoring thread to catch up with the line: every byte the
    // port has received is notified, in order, then a write already handed
    // over goes out, and then SPN_CAUGHT_UP with `nTag` (0 to 31).
    // Requests not yet served are answered together, one SPN_CAUGHT_UP a
    // tag. False when no monitoring thread runs: no answer will come. As any
    // notification, the answer never comes once Close or the next
    // Initialise has returned.
    bool RequestCatchUp(std::uint32_t nTag);

    // Why the last Initialise did not open its port, from what the system
    // said then: the port is not opened again to ask, so a port that was
    // held is told as held even if it has been let go since (who holds it is
    // looked up when asked). Problem None, without a text, after an
    // Initialise that opened its port, or before the first one.
    PortDiagnosis LastOpenFailure() const;

    LineSettings GetLineSettings() const;
    std::uint32_t GetEventMask() const;
    int GetSendBufferSize() const;
    // True while the monitoring thread runs (from StartMonitor until it has
    // served a stop request).
    bool IsMonitorAlive() const;

private:
    void MonitorThread(bool bWatchLine);
    void ServeLine();
    void ReceivePending();
    void SendPending();
    void ServeCatchUp();
    int WriteCopy(std::chrono::steady_clock::time_point deadline, std::optional<PortFailure>& failure);
    int DrainOutput(std::chrono::steady_clock::time_point deadline, std::optional<PortFailure>& lost);
    bool ServeLineFor(int nMilliseconds);
    LineWatch LineToWatch() const;
    void LineLost(const PortFailure& failure);
    bool Notify(std::uint32_t nMessage, std::uint32_t nWParam);  // false once a stop has cut it short
    // Runs `call` (one port call that does not wait) under the port lock,
    // unless a stop has been requested; false then, and `call` is not made.
    template <typename Call>
    bool PortCall(Call&& call)
    {
        const std::lock_guard lock(m_csPort);
        if (IsStopRequested()) {
            return false;
        }
        call();
        return true;
    }
    void RequestStop();
    void StopMonitorThread(bool bTraceEnd);
    void ReleasePort();
    void ReportError(const PortFailure& failure, const CancelSignal& cancel, bool bLineLost = false) const;
    bool IsStopRequested() const { return m_bStopRequested.load(); }
    CancelSignal StopSignal() const { return CancelSignal{m_hStopEvent.Handle(), &m_bStopRequested}; }
    bool IsSuspended() const { return m_nSuspendCount.load() > 0; }

    int m_nSendLength = 0;                           // guarded by m_csSend
    std::unique_ptr<WorkerThread> m_pMonitorThread;  // owner's thread only
    // The port lock. It makes a stop request and the retiring of the port
    // (Close) one step as the monitoring thread's port calls see it: each of
    // those calls is made under the lock after a look at the stop request,
    // so a call runs on the live port or not at all, and a failure it
    // returns is the line's own. Also held by Initialise and StartMonitor
    // around their port calls. Held around single calls that do not wait,
    // never across a wait, a notification or a report.
    mutable std::mutex m_csPort;
    std::mutex m_csSend;  // the send buffer and m_nSendLength
    std::atomic<bool> m_bMonitorAlive{false};
    EventFlag m_hStopEvent;
    std::atomic<bool> m_bStopRequested{false};  // set with m_hStopEvent, read without a system call
    // The port, as this system's backend holds it. Opened, configured and
    // let go of on the owner's thread; used by the monitoring thread while it
    // runs (a port let go of by Close is kept, retired, until the thread has
    // ended).
    std::unique_ptr<PortBackend> m_hComm;
    EventFlag m_hSendEvent;
    EventFlag m_hWakeEvent;  // suspend/resume: makes the thread look at m_nSuspendCount again
    std::atomic<int> m_nSuspendCount{0};
    std::atomic<std::uint32_t> m_nCatchUpTags{0};  // one bit a tag asked for and not yet answered
    CommTimeouts m_timeouts;
    LineSettings m_lineState;
    ISerialOwner* m_pNotifyWnd = nullptr;  // the owner: receives every notification (not a window here)
    unsigned m_nPortNumber = 0;
    std::string m_strNamedPath;  // a port the user named by its path: reports name it instead of the number
    std::vector<std::uint8_t> m_pSendBuffer;  // guarded by m_csSend
    std::uint32_t m_dwEventMask = 0;
    int m_nSendBufferSize = 0;

    // How the last Initialise's open failed, and the path it tried (owner's
    // thread only); no failure once the port opened.
    std::optional<OpenFailure> m_lastOpenFailure;
    std::string m_strLastOpenPath;

    std::optional<PortTable> m_portTable;
    std::atomic<IErrorReporter*> m_pReporter{nullptr};
    std::vector<std::uint8_t> m_writeCopy;  // the monitoring thread's copy of the send buffer
    // The monitoring thread's own: whether it watches the line, and whether
    // the line has been lost (told once, then never watched again).
    bool m_bWatchLine = false;
    bool m_bLineLost = false;
    bool m_bFailureLosesLine = false;  // the last write's failure means the line has gone
};

}  // namespace varnis
