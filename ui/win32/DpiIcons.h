// The window's icons at the DPI of the monitor the window is on. The two
// calls that tell it came with Windows 10 (1607); elsewhere the system's DPI
// is all there is, and the window starts all the same.
#pragma once

#include <windows.h>

namespace varnis {

struct DpiCalls {
    UINT(WINAPI* m_pGetDpiForWindow)(HWND) = nullptr;
    int(WINAPI* m_pGetSystemMetricsForDpi)(int, UINT) = nullptr;

    // Looked up in user32 (loaded in every window program) once; both
    // missing on a system without them (a DpiCalls{} plays that system).
    static const DpiCalls& FromSystem();
};

struct IconSizes {
    SIZE m_big{};
    SIZE m_small{};
};

// The sizes of the window's big and small icons at its own DPI; without the
// calls, the system's metrics.
IconSizes IconSizesFor(HWND hWnd, const DpiCalls& calls);

// The application icon (resource `nResourceId`, else the system's) at both
// sizes, owned: each load replaces the icons of the last one, and the window
// is given them.
class WindowIcons {
public:
    WindowIcons() = default;
    ~WindowIcons() { Release(); }
    WindowIcons(const WindowIcons&) = delete;
    WindowIcons& operator=(const WindowIcons&) = delete;

    // Loads the icons for `hWnd`'s DPI and sets them (WM_SETICON).
    void Apply(HWND hWnd, int nResourceId, const DpiCalls& calls);
    HICON Big() const { return m_hBig; }
    HICON Small() const { return m_hSmall; }
    SIZE BigSize() const { return m_sizes.m_big; }

private:
    void Release();

    HICON m_hBig = nullptr;
    HICON m_hSmall = nullptr;
    bool m_bOwned = false;
    IconSizes m_sizes;
};

}  // namespace varnis
