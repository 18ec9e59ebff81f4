// system-menu open|close: opens the main window's system menu as Alt+Space
// does, or closes it again, for the screenshot of its Chinese item.
// scripts/test-windows builds it and runs it under Wine; it is shipped nowhere.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv)
{
    HWND hWnd = FindWindowW(nullptr, L"Provin Generator v3.3");
    if (argc < 2 || hWnd == nullptr)
        return 1;
    if (std::strcmp(argv[1], "open") == 0) {
        SetForegroundWindow(hWnd);
        return PostMessageW(hWnd, WM_SYSCOMMAND, SC_KEYMENU, ' ') ? 0 : 1;
    }
    return PostMessageW(hWnd, WM_CANCELMODE, 0, 0) ? 0 : 1;
}
