// Hands work to the thread that made this object: Post() queues the callable
// and posts a wake-up to a message-only window of that thread, whose message
// loop (the dialog's, or a message box's inside it) runs it. Nothing is ever
// sent across threads, so a hand-over stays cancellable.
#pragma once

#include "serial/OwnerThread.h"
#include "ui/win32/ModalChain.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

namespace varnis {

class Win32OwnerThread : public IOwnerThread {
public:
    Win32OwnerThread();
    ~Win32OwnerThread() override;  // callables still queued are dropped unrun
    Win32OwnerThread(const Win32OwnerThread&) = delete;
    Win32OwnerThread& operator=(const Win32OwnerThread&) = delete;

    void Post(std::function<void()> fn) override;  // any thread
    bool IsOwnerThread() const { return GetCurrentThreadId() == m_dwThreadId; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam);
    void RunQueued();

    DWORD m_dwThreadId;
    HWND m_hWnd = nullptr;  // guarded by m_mutex for Post
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_queue;
};

// The engine's error boxes, with the error icon: owned by the window modal at
// that moment (the chain's), so they block the form as the window's own
// boxes do and stay in front of it; with no window yet, no owner and the
// thread's windows blocked. On the window's thread the box opens at once;
// from the monitoring thread the report is handed over and waited for, and a
// stop request ends that wait.
class Win32ErrorReporter : public IErrorReporter {
public:
    Win32ErrorReporter(Win32OwnerThread& owner, ModalChain& modal);
    void ReportError(std::string_view text, std::string_view caption, const CancelSignal& cancel) override;
    void Close();  // reports in flight return; later ones show nothing

private:
    Win32OwnerThread& m_owner;
    ModalChain& m_modal;
    HandOverChannel m_channel;
};

}  // namespace varnis
