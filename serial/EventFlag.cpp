// What an event does the same way on every system, on top of the system's
// own WaitForAny and IsHandleSignalled.
#include "serial/EventFlag.h"

#include <array>

namespace varnis {

bool EventFlag::IsSet() const
{
    return IsHandleSignalled(m_hEvent);
}

bool EventFlag::Wait(int nTimeoutMs, NativeHandle hCancel) const
{
    const std::array<NativeHandle, 2> handles{m_hEvent, hCancel};
    return WaitForAny(handles, nTimeoutMs) == 0;
}

}  // namespace varnis
