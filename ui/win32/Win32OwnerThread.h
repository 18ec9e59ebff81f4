// Hands work to the thread that made this object: Post() queues the callable
// and posts a wake-up to a message-only window of that thread, whose message
// loop (the dialog's, or a message box's inside it) runs it. Nothing is ever
// sent across threads, so a hand-over stays cancellable.
#pragma once

#include "serial/OwnerThread.h"

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

}  // namespace varnis
