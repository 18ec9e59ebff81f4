// Notifications of the serial port engine and the owner side of their hand-over.
#pragma once

#include "serial/NativeHandle.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

namespace varnis {

inline constexpr std::uint32_t WM_USER = 0x0400;
inline constexpr std::uint32_t SPN_BREAK = WM_USER + 1;
inline constexpr std::uint32_t SPN_CTS = WM_USER + 2;
inline constexpr std::uint32_t SPN_LINE_ERROR = WM_USER + 4;
inline constexpr std::uint32_t SPN_RING = WM_USER + 5;
inline constexpr std::uint32_t SPN_RXCHAR = WM_USER + 7;
inline constexpr std::uint32_t SPN_EVENT_CHAR = WM_USER + 8;
// The line has gone (a USB adapter pulled, the far end hung up): sent once,
// after the engine's report of it; the engine no longer watches the line.
// wParam 0, lParam the port number.
inline constexpr std::uint32_t SPN_LINE_LOST = WM_USER + 9;
// The answer to SerialPort::RequestCatchUp: every byte the port had received
// when it was asked for has been notified before it. wParam the request's
// tag, lParam the port number.
inline constexpr std::uint32_t SPN_CAUGHT_UP = WM_USER + 10;

inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;

struct SerialNotification {
    std::uint32_t m_nMessage = 0;
    std::uint32_t m_nWParam = 0;
    std::uint32_t m_nLParam = 0;
};

// A stop request the monitoring thread can be woken by: a waitable handle
// (see EventFlag) that is signalled once stop has been requested and stays
// so. The engine also hands a flag that mirrors it, so that a look costs no
// system call; the flag, when given, is what IsSignalled reads.
struct CancelSignal {
    NativeHandle m_hEvent = kNoNativeHandle;
    const std::atomic<bool>* m_pbSignalled = nullptr;
    bool IsSignalled() const;  // non-blocking look
};

// The owner of an engine. Runs on the monitoring thread: hands `n` to the
// owner's thread, and returns once the owner's handler has returned, or as
// soon as `cancel` is signalled, whichever comes first. After the owner has
// gone away it returns at once and the notification has no effect.
class ISerialOwner {
public:
    virtual ~ISerialOwner() = default;
    virtual void DeliverNotification(const SerialNotification& n, const CancelSignal& cancel) = 0;
};

// The engine's error boxes ("Application Error"). Called on the owner's
// thread (from Initialise) or on the monitoring thread; in the latter case
// the report must return when `cancel` is signalled, so that a stop never
// waits on a box. `cancel` has no handle (kNoNativeHandle) on the owner's thread.
class IErrorReporter {
public:
    virtual ~IErrorReporter() = default;
    virtual void ReportError(std::string_view text, std::string_view caption, const CancelSignal& cancel) = 0;
    // The report of a failure that lost the line; SPN_LINE_LOST follows it.
    // Shown like any other unless an owner tells of the loss in its own words.
    virtual void ReportLineLost(std::string_view text, std::string_view caption, const CancelSignal& cancel)
    {
        ReportError(text, caption, cancel);
    }
};

// Debug trace output ("Thread started\n", ...). Standard error unless replaced.
using TraceSink = std::function<void(std::string_view)>;
void SetTraceSink(TraceSink sink);  // empty: back to standard error
void Trace(std::string_view line);

}  // namespace varnis
