#include "ui/win32/DpiIcons.h"

#include <initializer_list>

namespace varnis {

namespace {

template <typename Function>
Function Lookup(HMODULE hModule, const char* pszName)
{
    // The address of an export is the function it names.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
}

DpiCalls LoadDpiCalls()
{
    DpiCalls calls;
    // Already loaded by the window's own calls: no search of the DLL path.
    if (HMODULE hUser = GetModuleHandleW(L"user32.dll")) {
        calls.m_pGetDpiForWindow = Lookup<decltype(calls.m_pGetDpiForWindow)>(hUser, "GetDpiForWindow");
        calls.m_pGetSystemMetricsForDpi =
            Lookup<decltype(calls.m_pGetSystemMetricsForDpi)>(hUser, "GetSystemMetricsForDpi");
    }
    if (calls.m_pGetDpiForWindow == nullptr || calls.m_pGetSystemMetricsForDpi == nullptr)
        calls = DpiCalls{};
    return calls;
}

}  // namespace

const DpiCalls& DpiCalls::FromSystem()
{
    static const DpiCalls calls = LoadDpiCalls();
    return calls;
}

IconSizes IconSizesFor(HWND hWnd, const DpiCalls& calls)
{
    const UINT nDpi = calls.m_pGetDpiForWindow != nullptr ? calls.m_pGetDpiForWindow(hWnd) : 0;
    const auto metric = [&](int nIndex) {
        return nDpi != 0 && calls.m_pGetSystemMetricsForDpi != nullptr ? calls.m_pGetSystemMetricsForDpi(nIndex, nDpi)
                                                                       : GetSystemMetrics(nIndex);
    };
    return IconSizes{SIZE{metric(SM_CXICON), metric(SM_CYICON)}, SIZE{metric(SM_CXSMICON), metric(SM_CYSMICON)}};
}

void WindowIcons::Apply(HWND hWnd, int nResourceId, const DpiCalls& calls)
{
    const IconSizes sizes = IconSizesFor(hWnd, calls);
    // Not shared: an icon of a size of its own is the caller's to destroy.
    const auto load = [nResourceId](SIZE size) {
        return static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(nResourceId), IMAGE_ICON, size.cx, size.cy, 0));
    };
    HICON hBig = load(sizes.m_big);
    HICON hSmall = load(sizes.m_small);
    bool bOwned = true;
    if (hBig == nullptr || hSmall == nullptr) {
        for (HICON hIcon : {hBig, hSmall}) {
            if (hIcon != nullptr)
                DestroyIcon(hIcon);
        }
        // Without an icon of its own: the system's application icon (IDI_APPLICATION), shared.
        hBig = hSmall = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
        bOwned = false;
    }
    // The window lets go of the old icons before they are destroyed.
    SendMessageW(hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hBig));
    SendMessageW(hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
    Release();
    m_hBig = hBig;
    m_hSmall = hSmall;
    m_bOwned = bOwned;
    m_sizes = sizes;
}

void WindowIcons::Release()
{
    if (m_bOwned) {
        if (m_hBig != nullptr)
            DestroyIcon(m_hBig);
        if (m_hSmall != nullptr)
            DestroyIcon(m_hSmall);
    }
    m_hBig = m_hSmall = nullptr;
    m_bOwned = false;
}

}  // namespace varnis
