// The dialog procedure of the start-up floors: it does nothing but end the
// dialog on OK, Cancel or the close button.
#pragma once

#include <windows.h>

namespace varnis::bench {

inline INT_PTR CALLBACK EndOnlyDialogProc(HWND hDlg, UINT nMessage, WPARAM wParam, LPARAM)
{
    if (nMessage == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
    }
    return nMessage == WM_INITDIALOG ? TRUE : FALSE;
}

}  // namespace varnis::bench
