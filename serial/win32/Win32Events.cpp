// Events, waits and threads on Windows: manual-reset events,
// WaitForMultipleObjects and system threads; error texts from FormatMessageW.
#include "platform/win32/WideText.h"
#include "serial/EventFlag.h"
#include "serial/Text.h"
#include "serial/WorkerThread.h"

#include <windows.h>

#include <process.h>

#include <algorithm>
#include <array>
#include <vector>

namespace varnis {

namespace {
HANDLE HandleOf(NativeHandle hEvent)
{
    return reinterpret_cast<HANDLE>(hEvent);
}
}  // namespace

EventFlag::~EventFlag()
{
    if (IsCreated()) {
        CloseHandle(HandleOf(m_hEvent));
    }
}

bool EventFlag::Create()
{
    HANDLE hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // manual reset, not signalled
    if (hEvent == nullptr) {
        return false;
    }
    if (IsCreated()) {
        CloseHandle(HandleOf(m_hEvent));
    }
    m_hEvent = reinterpret_cast<NativeHandle>(hEvent);
    return true;
}

void EventFlag::Set() const
{
    SetEvent(HandleOf(m_hEvent));
}

void EventFlag::Reset() const
{
    ResetEvent(HandleOf(m_hEvent));
}

// WaitForMultipleObjects returns the lowest index signalled, which is the
// order of service the callers rely on. Entries left out are skipped, so the
// index given back is mapped to the caller's.
int WaitForAny(std::span<const NativeHandle> handles, int nTimeoutMs)
{
    std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> waited{};
    std::array<int, MAXIMUM_WAIT_OBJECTS> index{};
    DWORD dwCount = 0;
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (handles[i] == kNoNativeHandle) {
            continue;
        }
        if (dwCount == MAXIMUM_WAIT_OBJECTS) {
            return kWaitFailed;
        }
        waited[dwCount] = HandleOf(handles[i]);
        index[dwCount] = static_cast<int>(i);
        ++dwCount;
    }
    const DWORD dwTimeout = nTimeoutMs < 0 ? INFINITE : static_cast<DWORD>(nTimeoutMs);
    if (dwCount == 0) {
        // Nothing to wait for: only the time passes.
        if (dwTimeout == INFINITE) {
            return kWaitFailed;
        }
        Sleep(dwTimeout);
        return kWaitTimedOut;
    }
    const DWORD dwResult = WaitForMultipleObjects(dwCount, waited.data(), FALSE, dwTimeout);
    if (dwResult == WAIT_TIMEOUT) {
        return kWaitTimedOut;
    }
    if (dwResult >= WAIT_OBJECT_0 && dwResult < WAIT_OBJECT_0 + dwCount) {
        return index[dwResult - WAIT_OBJECT_0];
    }
    return kWaitFailed;
}

bool IsHandleSignalled(NativeHandle hEvent)
{
    return hEvent != kNoNativeHandle && WaitForSingleObject(HandleOf(hEvent), 0) == WAIT_OBJECT_0;
}

// Normal priority, the default stack, running at once. _beginthreadex keeps
// the C runtime's per-thread state right for the thread.
bool WorkerThread::StartSystemThread(WorkerThread* pThread, NativeHandle& hThread)
{
    const auto trampoline = +[](void* pArg) -> unsigned {
        RunBody(static_cast<WorkerThread*>(pArg));
        return 0;
    };
    const std::uintptr_t hNative = _beginthreadex(nullptr, 0, trampoline, pThread, 0, nullptr);
    if (hNative == 0) {
        return false;
    }
    hThread = static_cast<NativeHandle>(hNative);
    return true;
}

void WorkerThread::JoinSystemThread(NativeHandle hThread)
{
    WaitForSingleObject(HandleOf(hThread), INFINITE);
    CloseHandle(HandleOf(hThread));
}

// The system's message for a last-error code, in the default language
// (0x0400), as the "Application Error" box shows it, with the message's own
// line end. Asked for in UTF-16 and given back in UTF-8: the ANSI code page
// (936 on Chinese Windows) is not what the window or the console reads.
std::string SystemErrorText(int nError)
{
    wchar_t* pszText = nullptr;
    const DWORD dwLength =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(nError), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<LPWSTR>(&pszText), 0, nullptr);
    std::string text;
    if (dwLength != 0 && pszText != nullptr) {
        text = Utf8FromWide(std::wstring_view(pszText, dwLength));
    }
    if (pszText != nullptr) {
        LocalFree(pszText);
    }
    return text.empty() ? FormatText("Unknown error %d", nError) : text;
}

}  // namespace varnis
