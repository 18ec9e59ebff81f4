// The like-for-like floor of the window's start-up on Windows: the main
// window's own template (its 70 controls, made from the form table, in the
// face the window resolves, as the window makes it) with the window's
// manifest (common controls 6) and its InitCommonControlsEx, run modally
// with a dialog procedure that does nothing but end the dialog. No engine,
// no list items, no start state, no annotations, no icons: what varnis.exe
// costs beyond this is its own.
#include "bench/win32/EndOnlyDialog.h"
#include "ui/core/FormTable.h"
#include "ui/win32/DialogTemplate.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <commctrl.h>

#include <vector>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    const std::vector<unsigned short> words =
        varnis::BuildMainTemplate(varnis::ResolveDialogFont(varnis::kDialogFontName, varnis::kDialogFontPoints));
    DialogBoxIndirectParamW(hInstance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr,
                            &varnis::bench::EndOnlyDialogProc, 0);
    return 0;
}
