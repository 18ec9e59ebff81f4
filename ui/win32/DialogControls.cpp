#include "ui/win32/DialogControls.h"

#include "ui/core/FormTable.h"
#include "platform/win32/WideText.h"

#include <string>

namespace varnis {

void DialogControls::FillForm()
{
    for (const FormItem& item : MainFormItems()) {
        if (item.m_eKind == ControlKind::List) {
            for (const std::string& text : ListItems(item.m_nId))
                SendMessageW(Control(item.m_nId), CB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(WideFromUtf8(text).c_str()));
        } else if (const int nLimit = LengthLimitOf(item.m_nId); nLimit > 0) {
            SendMessageW(Control(item.m_nId), EM_LIMITTEXT, static_cast<WPARAM>(nLimit), 0);
        }
    }
}

void DialogControls::Enable(int nId, bool bEnable)
{
    HWND hControl = Control(nId);
    if (hControl == nullptr || (IsWindowEnabled(hControl) != FALSE) == bEnable)
        return;  // nothing to change (the start state's controls are made disabled)
    // The system leaves the focus on a control it disables: it moves on to
    // the next Tab stop first.
    if (!bEnable && GetFocus() == hControl)
        SendMessageW(m_hDlg, WM_NEXTDLGCTL, 0, FALSE);
    EnableWindow(hControl, bEnable ? TRUE : FALSE);
}

bool DialogControls::IsEnabled(int nId) const
{
    return IsWindowEnabled(Control(nId)) != FALSE;
}

void DialogControls::SetCheck(int nId, bool bChecked)
{
    // BM_SETCHECK sends no click: no rule runs.
    HWND hControl = Control(nId);
    const auto dwStyle = static_cast<DWORD>(GetWindowLongPtrW(hControl, GWL_STYLE));
    const FormItem* pItem = FindFormItem(nId);
    if (!bChecked || (dwStyle & BS_TYPEMASK) != BS_AUTORADIOBUTTON || pItem == nullptr) {
        SendMessageW(hControl, BM_SETCHECK, bChecked ? BST_CHECKED : BST_UNCHECKED, 0);
        return;
    }
    // An automatic radio button that is checked unchecks the rest of its
    // group, which the system finds by walking every control of the dialog
    // (under Wine a round trip to its server for each step; see
    // bench/win32/check_marks.cpp). The group is known here: its other
    // buttons are unchecked directly, and the button is checked while it is a
    // plain radio button for that moment.
    for (const int nOther : GroupMembers(pItem->m_nGroup)) {
        if (nOther != nId && IsChecked(nOther))
            SendMessageW(Control(nOther), BM_SETCHECK, BST_UNCHECKED, 0);
    }
    const WPARAM nOtherBits = dwStyle & 0xFFFF & ~static_cast<DWORD>(BS_TYPEMASK);
    SendMessageW(hControl, BM_SETSTYLE, nOtherBits | BS_RADIOBUTTON, FALSE);
    SendMessageW(hControl, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(hControl, BM_SETSTYLE, nOtherBits | BS_AUTORADIOBUTTON, FALSE);
}

bool DialogControls::IsChecked(int nId) const
{
    return SendMessageW(Control(nId), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DialogControls::Select(int nId, int nIndex)
{
    SendMessageW(Control(nId), CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

int DialogControls::Selection(int nId) const
{
    return static_cast<int>(SendMessageW(Control(nId), CB_GETCURSEL, 0, 0));
}

void DialogControls::SetText(int nId, std::string_view text)
{
    std::wstring wide = WideFromUtf8(text);
    // The limit holds for texts the program puts there too.
    if (const int nLimit = LengthLimitOf(nId); nLimit > 0 && wide.size() > static_cast<size_t>(nLimit))
        wide.resize(static_cast<size_t>(nLimit));
    SetWindowTextW(Control(nId), wide.c_str());
}

std::string DialogControls::Text(int nId) const
{
    HWND hControl = Control(nId);
    std::wstring wide(static_cast<size_t>(GetWindowTextLengthW(hControl)) + 1, L'\0');
    const int nLength = GetWindowTextW(hControl, wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(nLength > 0 ? nLength : 0));
    return Utf8FromWide(wide);
}

int DialogControls::FocusedId() const
{
    HWND hFocus = GetFocus();
    if (hFocus == nullptr || !IsChild(m_hDlg, hFocus))
        return 0;
    // The focus may sit in a child of a control (a list's edit part).
    while (GetParent(hFocus) != m_hDlg)
        hFocus = GetParent(hFocus);
    return GetDlgCtrlID(hFocus);
}

void DialogControls::Focus(int nId)
{
    // Through the dialog manager, so that the default button follows.
    if (HWND hControl = Control(nId))
        SendMessageW(m_hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hControl), TRUE);
}

}  // namespace varnis
