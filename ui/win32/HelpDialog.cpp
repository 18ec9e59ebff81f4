#include "ui/win32/HelpDialog.h"

#include "ui/core/FormTable.h"
#include "ui/win32/Accessibility.h"
#include "ui/win32/DialogTemplate.h"
#include "platform/win32/WideText.h"

#include <vector>

namespace varnis {

namespace {

INT_PTR CALLBACK HelpProc(HWND hDlg, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    switch (nMessage) {
    case WM_INITDIALOG:
        // The guide gets its name, which no static text in front of it gives.
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        reinterpret_cast<DialogAnnotations*>(lParam)->Annotate(ControlsById(hDlg), HelpFormItems());
        // The guide keeps its carriage returns and line feeds.
        SetDlgItemTextW(hDlg, kIdHelpText, WideFromUtf8(GuideText()).c_str());
        SendMessageW(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hDlg, kIdExit)), TRUE);
        return FALSE;
    case WM_COMMAND:
        // OK, Enter, Escape and the close button.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        if (auto* pAnnotations = reinterpret_cast<DialogAnnotations*>(GetWindowLongPtrW(hDlg, DWLP_USER)))
            pAnnotations->Clear();
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

void RunHelpDialog(HWND hOwner)
{
    const std::vector<unsigned short> words = BuildHelpTemplate(ResolveDialogFont(kHelpFontName, kHelpFontPoints));
    DialogAnnotations annotations;
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), hOwner,
                            &HelpProc, reinterpret_cast<LPARAM>(&annotations));
}

}  // namespace varnis
