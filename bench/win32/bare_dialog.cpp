// The floor of a window's start-up on Windows: a dialog of the main window's
// size and font with no control, made from an in-memory template and run
// modally until it is closed. Nothing else: no engine, no form.
#include "bench/win32/EndOnlyDialog.h"

#include <windows.h>

#include <string_view>
#include <vector>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    std::vector<WORD> t = {1, 0xFFFF, 0, 0, 0, 0};  // extended template: help id, extended style
    const DWORD dwStyle = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                          WS_VISIBLE;
    t.insert(t.end(), {LOWORD(dwStyle), HIWORD(dwStyle), 0, 0, 0, 405, 287, 0, 0});
    for (const wchar_t c : std::wstring_view(L"Bare dialog"))
        t.push_back(c);
    t.insert(t.end(), {0, 9, FW_NORMAL, MAKEWORD(FALSE, DEFAULT_CHARSET)});
    for (const wchar_t c : std::wstring_view(L"宋体"))
        t.push_back(c);
    t.push_back(0);
    DialogBoxIndirectParamW(hInstance, reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), nullptr,
                            &varnis::bench::EndOnlyDialogProc, 0);
    return 0;
}
