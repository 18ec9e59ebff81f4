// Manual-reset events and the waits on them: what the engine, the hand-over
// to the owner's thread and the event loop wait on. Realised once per
// system (an eventfd and poll() on POSIX, an event and
// WaitForMultipleObjects on Windows).
#pragma once

#include "serial/NativeHandle.h"

#include <span>

namespace varnis {

// A manual-reset event: set until reset. Set and Reset may be called from
// any thread.
class EventFlag {
public:
    EventFlag() = default;
    ~EventFlag();
    EventFlag(const EventFlag&) = delete;
    EventFlag& operator=(const EventFlag&) = delete;

    bool Create();  // not set; false if the system had none to give
    bool IsCreated() const { return m_hEvent != kNoNativeHandle; }
    void Set() const;
    void Reset() const;
    bool IsSet() const;  // non-blocking look
    // Waits until the flag is set, at most `nTimeoutMs` (-1: no limit), or
    // until `hCancel` is signalled; true when the flag was found set first.
    bool Wait(int nTimeoutMs, NativeHandle hCancel = kNoNativeHandle) const;
    NativeHandle Handle() const { return m_hEvent; }

private:
    NativeHandle m_hEvent = kNoNativeHandle;
};

// Waits until one of `handles` is signalled, at most `nTimeoutMs` (-1: no
// limit); entries of kNoNativeHandle are left out. Returns the lowest index
// signalled, kWaitTimedOut, or kWaitFailed when the wait itself failed.
inline constexpr int kWaitTimedOut = -1;
inline constexpr int kWaitFailed = -2;
int WaitForAny(std::span<const NativeHandle> handles, int nTimeoutMs);

// Non-blocking look at one waitable handle (kNoNativeHandle: never signalled).
bool IsHandleSignalled(NativeHandle hEvent);

}  // namespace varnis
