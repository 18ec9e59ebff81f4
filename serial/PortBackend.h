// What the serial engine needs of the operating system for one port. The
// engine's core (SerialPort.cpp) holds every rule: the order in which stop,
// line and send are served, the notifications, the send request and its
// deadline, the drain policy, the reporting. A backend only carries out one
// system call's worth of work at a time and says how it went. One backend
// per system, in its own folder (posix/, win32/), chosen by the build.
//
// Threads: Open, Configure and Release run on the owner's thread while no
// monitoring thread runs; Retire runs on the owner's thread while the
// monitoring thread may be inside any call; the rest run on the monitoring
// thread (and Purge also on the owner's thread before the thread starts).
// The engine makes each call that is not a wait under its port lock, and
// Retire under the same lock, so no port call overlaps the retiring of the
// port; Wait and the waits inside it hold no lock.
//
// No call shows anything, traces, or calls out of the engine: failures come
// back as values (the step's label and the system's error code) for the core
// to report once it holds no lock.
//
// Besides CreatePortBackend below, a system's folder realises what the
// portable headers declare for it: EventFlag, WaitForAny and
// IsHandleSignalled (EventFlag.h), WorkerThread (WorkerThread.h),
// SystemErrorText (Text.h), PortTable::FromSystem (PortTable.h),
// DiagnoseOpenFailure, DiagnosePort, PortHolders and SetPortLockDirectory
// (PortDiagnosis.h), and what PortInfo reads of the system (PortInfo.h).
#pragma once

#include "serial/EventFlag.h"
#include "serial/LineSettings.h"
#include "serial/PortDiagnosis.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace varnis {

// The steps a failure report names, as the engine has always named them.
inline constexpr const char* kStepSetCommTimeouts = "SetCommTimeouts()";
inline constexpr const char* kStepSetCommMask = "SetCommMask()";
inline constexpr const char* kStepGetCommState = "GetCommState()";
inline constexpr const char* kStepBuildCommDcb = "BuildCommDCB()";
inline constexpr const char* kStepSetCommState = "SetCommState()";
inline constexpr const char* kStepWaitCommEvent = "WaitCommEvent()";
inline constexpr const char* kStepReadFile = "ReadFile()";
inline constexpr const char* kStepWriteFile = "WriteFile()";
inline constexpr const char* kStepWriteResult = "GetOverlappedResults() in WriteFile()";

struct PortFailure {
    const char* m_label = nullptr;  // the step, as the report names it
    int m_nError = 0;               // the system's error code
};

// What the monitoring thread waits for, lowest slot first.
enum class WaitSlot : std::uint8_t { Stop, Wake, Line, Writable, Send, TimedOut, Failed };

// What of the line a wait looks at.
enum class LineWatch : std::uint8_t {
    None,        // nothing (no port, a lost line, a pause)
    HangUpOnly,  // the line's end only: received bytes stay queued
    Input,       // received bytes and the line's end
};

struct WaitRequest {
    const EventFlag* m_pStop = nullptr;  // always given
    const EventFlag* m_pWake = nullptr;  // optional
    const EventFlag* m_pSend = nullptr;  // optional
    LineWatch m_eLine = LineWatch::None;
    bool m_bWritable = false;  // the line takes more output (after a write that had to wait)
    int m_nTimeoutMs = -1;     // -1: no limit
};

struct WaitResult {
    WaitSlot m_eSlot = WaitSlot::Failed;
    int m_nError = 0;  // with Failed
};

// The input side of the line after a Line wake-up.
struct LineQuery {
    int m_nWaiting = 0;    // bytes ready to be read (0: a wake-up with nothing to read)
    bool m_bLost = false;  // the line has ended: unplugged, hung up, gone
    int m_nError = 0;      // with m_bLost: the system's code for it
};

enum class ReadOutcome : std::uint8_t { Byte, Empty, Failed };
struct ReadResult {
    ReadOutcome m_eOutcome = ReadOutcome::Empty;
    std::uint8_t m_nByte = 0;
    int m_nError = 0;  // with Failed
};

struct WriteResult {
    int m_nTaken = 0;  // bytes the line took; 0 with m_bFailed false: wait for Writable
    bool m_bFailed = false;
    bool m_bLost = false;  // with m_bFailed: the failure means the line has gone
    int m_nError = 0;
};

enum class QueueOutcome : std::uint8_t { Known, CannotTell, Lost };
struct QueueQuery {
    QueueOutcome m_eOutcome = QueueOutcome::CannotTell;
    int m_nQueued = 0;  // with Known: bytes not yet sent
    int m_nError = 0;   // with Lost
};

class PortBackend {
public:
    virtual ~PortBackend() = default;

    // Opens `path` for this program alone. False when it cannot be had (no
    // such port, no permission, held by another program, not a serial line);
    // `strReason` then says why in a few words, for the trace, and `failure`
    // what the system said, to tell the user why later (DiagnoseOpenFailure).
    virtual bool Open(const std::string& path, std::string& strReason, OpenFailure& failure) = 0;
    // True from a successful Open until Retire or Release.
    virtual bool IsOpen() const = 0;
    // Applies the time-outs, the event mask and the line settings, in that
    // order, stopping at the first step that fails (returned, with the
    // step's label). `lineState` is what the line was found at, rebuilt
    // from `settingsText` with RTS on: set as far as the steps got.
    virtual std::optional<PortFailure> Configure(const CommTimeouts& timeouts, std::uint32_t eventMask,
                                                 const std::string& settingsText, LineSettings& lineState) = 0;
    // Discards both queues and aborts transfers in progress.
    virtual void Purge() = 0;
    // Lets go of the device at once, while the monitoring thread may still
    // use the handle: from here on its calls fail or find nothing, but never
    // touch another device. IsOpen is false afterwards.
    virtual void Retire() = 0;
    // Closes what Open or Retire left (no monitoring thread runs). Output
    // still queued is discarded first, so closing never waits on it.
    virtual void Release() = 0;

    // Waits for what `request` names; the lowest slot signalled wins.
    virtual WaitResult Wait(const WaitRequest& request) = 0;
    // After a Line wake-up: how many bytes wait, or that the line is lost.
    virtual LineQuery QueryLine() = 0;
    // Reads one byte without waiting: Empty when none is waiting.
    virtual ReadResult ReadByte() = 0;
    // The bytes ready to be read now, asked without a line event first (a
    // catch-up); 0 when there are none or the line cannot tell.
    virtual int InputWaiting() = 0;
    // Hands as much of `data` to the line as it takes without waiting.
    virtual WriteResult WriteSome(std::span<const std::uint8_t> data) = 0;
    // The bytes written but not yet sent. Lost only when the failure of the
    // query means the line has gone; CannotTell when the line keeps no count.
    virtual QueueQuery OutputQueued() = 0;
    // Discards output not yet sent.
    virtual void DiscardOutput() = 0;
};

// This system's backend.
std::unique_ptr<PortBackend> CreatePortBackend();

}  // namespace varnis
