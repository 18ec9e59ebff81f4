// The calls the Windows backend makes on its port handle, as one table: the
// system's own unless a test puts stand-ins in (tests/serial/win32/), to play
// what a real driver does and Wine does not, and to see the order of calls.
// Replaced only while no port is open.
#pragma once

#include <windows.h>

namespace varnis::win32 {

struct CommCalls {
    HANDLE(WINAPI* m_pCreateFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = CreateFileA;
    BOOL(WINAPI* m_pCloseHandle)(HANDLE) = CloseHandle;
    BOOL(WINAPI* m_pSetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS) = SetCommTimeouts;
    BOOL(WINAPI* m_pSetCommMask)(HANDLE, DWORD) = SetCommMask;
    BOOL(WINAPI* m_pGetCommState)(HANDLE, LPDCB) = GetCommState;
    BOOL(WINAPI* m_pSetCommState)(HANDLE, LPDCB) = SetCommState;
    BOOL(WINAPI* m_pWaitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED) = WaitCommEvent;
    BOOL(WINAPI* m_pGetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) = GetOverlappedResult;
    BOOL(WINAPI* m_pClearCommError)(HANDLE, LPDWORD, LPCOMSTAT) = ClearCommError;
    BOOL(WINAPI* m_pReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = ReadFile;
    BOOL(WINAPI* m_pWriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = WriteFile;
    BOOL(WINAPI* m_pPurgeComm)(HANDLE, DWORD) = PurgeComm;
    BOOL(WINAPI* m_pCancelIoEx)(HANDLE, LPOVERLAPPED) = CancelIoEx;
};

// The table in use.
CommCalls& Comm();

// Once line waits keep ending with nothing to show (no event, no input, no
// lost device), the next is armed only after kLineRearmMs; meanwhile the
// input queue is looked at every kLinePollMs (milliseconds).
inline constexpr DWORD kLineRearmMs = 100;
inline constexpr DWORD kLinePollMs = 5;
// How long an aborted transfer may take to end before it is cancelled.
inline constexpr DWORD kAbortWaitMs = 500;

}  // namespace varnis::win32
