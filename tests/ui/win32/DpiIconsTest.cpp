#include "ui/win32/DpiIcons.h"

#include <gtest/gtest.h>

namespace varnis {
namespace {

// A window on a monitor at 200 %, where the system's DPI is another.
UINT g_nAskedDpi = 0;
UINT WINAPI DpiOfWindow(HWND)
{
    return 192;
}
int WINAPI MetricAtDpi(int nIndex, UINT nDpi)
{
    g_nAskedDpi = nDpi;
    const bool bBig = nIndex == SM_CXICON || nIndex == SM_CYICON;
    return static_cast<int>(bBig ? nDpi / 3 : nDpi / 6);
}

SIZE SizeOf(HICON hIcon)
{
    ICONINFO info{};
    BITMAP bitmap{};
    if (!GetIconInfo(hIcon, &info))
        return {};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return SIZE{bitmap.bmWidth, bitmap.bmHeight};
}

// No window is needed (the tier runs this without a display): the fake
// calls answer for any, and the icons are loaded all the same.
TEST(DpiIcons, TakenAtTheWindowsOwnDpiAndAtTheSystemsWithoutTheCalls)
{
    const DpiCalls perMonitor{&DpiOfWindow, &MetricAtDpi};
    const IconSizes sizes = IconSizesFor(nullptr, perMonitor);
    EXPECT_EQ(g_nAskedDpi, 192U);
    EXPECT_EQ(sizes.m_big.cx, 64);
    EXPECT_EQ(sizes.m_small.cy, 32);
    const IconSizes old = IconSizesFor(nullptr, DpiCalls{});
    EXPECT_EQ(old.m_big.cx, GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(old.m_small.cy, GetSystemMetrics(SM_CYSMICON));

    // The icons are drawn at those sizes, and each load replaces the last
    // (as on a move to another monitor).
    WindowIcons icons;
    icons.Apply(nullptr, 1, DpiCalls{});
    icons.Apply(nullptr, 1, perMonitor);
    EXPECT_EQ(SizeOf(icons.Big()).cx, 64);
    EXPECT_EQ(SizeOf(icons.Small()).cx, 32);
    // Without the calls (a Windows before 10): the system's sizes, still an icon.
    icons.Apply(nullptr, 1, DpiCalls{});
    EXPECT_EQ(SizeOf(icons.Big()).cx, GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(SizeOf(icons.Small()).cx, GetSystemMetrics(SM_CXSMICON));
}

}  // namespace
}  // namespace varnis
