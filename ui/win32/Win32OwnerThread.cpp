#include "ui/win32/Win32OwnerThread.h"

#include <string>
#include <utility>

namespace varnis {

namespace {

constexpr UINT kRunQueued = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"VarnisOwnerThread";

}  // namespace

Win32OwnerThread::Win32OwnerThread() : m_dwThreadId(GetCurrentThreadId())
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Win32OwnerThread::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);  // fails harmlessly once registered
    m_hWnd =
        CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    if (m_hWnd != nullptr)
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32OwnerThread::~Win32OwnerThread()
{
    HWND hWnd = nullptr;
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard lock(m_mutex);
        hWnd = std::exchange(m_hWnd, nullptr);
        dropped.swap(m_queue);
    }
    if (hWnd != nullptr)
        DestroyWindow(hWnd);
    // `dropped` goes here, outside the lock: a waiter learns its call never ran.
}

void Win32OwnerThread::Post(std::function<void()> fn)
{
    std::function<void()> unrun;
    {
        const std::lock_guard lock(m_mutex);
        if (m_hWnd == nullptr || !PostMessageW(m_hWnd, kRunQueued, 0, 0))
            unrun = std::move(fn);  // no loop to run it: dropped
        else
            m_queue.push_back(std::move(fn));
    }
}

void Win32OwnerThread::RunQueued()
{
    std::function<void()> fn;
    {
        const std::lock_guard lock(m_mutex);
        if (m_queue.empty())
            return;
        fn = std::move(m_queue.front());
        m_queue.pop_front();
    }
    fn();
}

LRESULT CALLBACK Win32OwnerThread::WindowProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    if (nMessage == kRunQueued) {
        if (auto* pThis = reinterpret_cast<Win32OwnerThread*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA)))
            pThis->RunQueued();
        return 0;
    }
    return DefWindowProcW(hWnd, nMessage, wParam, lParam);
}

}  // namespace varnis
