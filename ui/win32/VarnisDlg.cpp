#include "ui/win32/VarnisDlg.h"

#include "ui/core/FormTable.h"
#include "ui/win32/DialogTemplate.h"
#include "ui/win32/HelpDialog.h"
#include "platform/win32/WideText.h"

#include <commctrl.h>

#include <string>

namespace varnis {

namespace {

// The application icon of the program's resources.
constexpr int kAppIconId = 128;

}  // namespace

VarnisDlg::VarnisDlg(const DpiCalls& dpiCalls) : m_dpiCalls(dpiCalls), m_core(m_controls, *this, *this, m_ownerThread)
{
}

void VarnisDlg::SetPortTable(const PortTable& table)
{
    m_core.SetPortTable(table);
}

INT_PTR VarnisDlg::Run()
{
    const std::vector<unsigned short> words = BuildMainTemplate(ResolveDialogFont(kDialogFontName, kDialogFontPoints));
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr,
                                   &VarnisDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK VarnisDlg::DialogProc(HWND hDlg, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    if (nMessage == WM_INITDIALOG) {
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        reinterpret_cast<VarnisDlg*>(lParam)->m_hDlg = hDlg;
    }
    auto* pThis = reinterpret_cast<VarnisDlg*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    return pThis != nullptr ? pThis->OnMessage(nMessage, wParam, lParam) : FALSE;
}

INT_PTR VarnisDlg::OnMessage(UINT nMessage, WPARAM wParam, LPARAM /*lParam*/)
{
    switch (nMessage) {
    case WM_INITDIALOG:
        m_modal.SetMain(m_hDlg);
        m_controls.Attach(m_hDlg);
        m_controls.FillForm();
        m_annotations.Annotate(m_controls.Controls(), MainFormItems());
        m_core.OnInitMainWindow();
        return FALSE;  // the core has put the focus
    case WM_COMMAND:
        // Clicks, and Enter and Escape as ids 1 and 2; the lists' and the
        // edit fields' notifications run no rule. None while a box or the
        // help window is open over the form, however it was sent.
        if (HIWORD(wParam) == BN_CLICKED && !m_modal.IsOpen())
            m_core.OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_ENABLE: m_modal.OnMainEnabled(wParam != FALSE); return FALSE;
    case WM_SYSCOMMAND:
        if (!m_core.OnSysCommand(static_cast<unsigned>(wParam)))
            return FALSE;  // the system's own handling
        SetWindowLongPtrW(m_hDlg, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_TIMER: OnTimerMessage(wParam); return TRUE;
    case WM_PAINT: return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_icons.Big());
    case WM_DPICHANGED:
        // Icons drawn for the new monitor's scale; the system scales the form.
        m_icons.Apply(m_hDlg, kAppIconId, m_dpiCalls);
        return FALSE;
    case WM_DESTROY:
        for (const auto& [nId, nSystemId] : m_timers)
            KillTimer(m_hDlg, nSystemId);
        m_timers.clear();
        m_modal.SetMain(nullptr);
        m_annotations.Clear();
        m_hDlg = nullptr;
        return FALSE;
    default: return FALSE;
    }
}

bool VarnisDlg::OnPaint()
{
    if (!IsIconic(m_hDlg))
        return false;
    PAINTSTRUCT paint{};
    HDC hdc = BeginPaint(m_hDlg, &paint);
    SendMessageW(m_hDlg, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
    RECT client{};
    GetClientRect(m_hDlg, &client);
    const IconPosition pos = MinimisedIconPosition(client.right - client.left, client.bottom - client.top,
                                                   m_icons.BigSize().cx, m_icons.BigSize().cy);
    DrawIconEx(hdc, pos.m_nX, pos.m_nY, m_icons.Big(), m_icons.BigSize().cx, m_icons.BigSize().cy, 0, nullptr,
               DI_NORMAL);
    EndPaint(m_hDlg, &paint);
    return true;
}

// Each box is owned by the window modal at that moment (ModalChain.h).
void VarnisDlg::Message(std::string_view text, std::string_view caption)
{
    const ModalChain::Scope scope(m_modal);
    MessageBoxW(scope.Owner(), WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), MB_OK);
}

// The engine's error boxes, with the error icon; with no window yet, no
// owner and the thread's windows blocked.
void VarnisDlg::ErrorMessage(std::string_view text, std::string_view caption, bool /*bLineLost*/)
{
    const ModalChain::Scope scope(m_modal);
    const UINT nStyle = MB_OK | MB_ICONERROR | (scope.Owner() == nullptr ? MB_TASKMODAL : 0);
    MessageBoxW(scope.Owner(), WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(), nStyle);
}

bool VarnisDlg::Confirm(std::string_view text, std::string_view caption)
{
    const ModalChain::Scope scope(m_modal);
    return MessageBoxW(scope.Owner(), WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(),
                       MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

void VarnisDlg::StartTimer(int nId, int nMilliseconds)
{
    StopTimer(nId);
    const UINT_PTR nSystemId = m_nNextSystemTimerId++;
    if (m_hDlg != nullptr && SetTimer(m_hDlg, nSystemId, static_cast<UINT>(nMilliseconds), nullptr) != 0)
        m_timers[nId] = nSystemId;
}

void VarnisDlg::StopTimer(int nId)
{
    if (const auto it = m_timers.find(nId); it != m_timers.end()) {
        KillTimer(m_hDlg, it->second);
        m_timers.erase(it);
    }
}

void VarnisDlg::OnTimerMessage(UINT_PTR nSystemId)
{
    for (const auto& [nId, nCurrent] : m_timers) {
        if (nCurrent == nSystemId) {
            m_core.OnTimer(nId);
            return;
        }
    }
    // A stopped or restarted timer's expiry, queued before it stopped: dropped.
}

void VarnisDlg::ShowHelpWindow()
{
    const ModalChain::Scope scope(m_modal);
    RunHelpDialog(scope.Owner());
}

void VarnisDlg::EndWindow(bool bOk)
{
    EndDialog(m_hDlg, bOk ? IDOK : IDCANCEL);
}

std::string VarnisDlg::ResourceString(int nId) const
{
    const wchar_t* pszText = nullptr;
    // With a length of 0 the system hands out a pointer to the resource itself.
    const int nLength =
        LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(nId), reinterpret_cast<LPWSTR>(&pszText), 0);
    return nLength > 0 && pszText != nullptr ? Utf8FromWide(std::wstring_view(pszText, static_cast<size_t>(nLength)))
                                             : std::string();
}

void VarnisDlg::AppendMenuItem(unsigned nCommand, std::string_view text)
{
    HMENU hMenu = GetSystemMenu(m_hDlg, FALSE);
    if (hMenu == nullptr)
        return;
    AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(hMenu, MF_STRING, nCommand, WideFromUtf8(text).c_str());
}

void VarnisDlg::SetWindowIcon()
{
    m_icons.Apply(m_hDlg, kAppIconId, m_dpiCalls);
}

int RunVarnisApp(const DpiCalls& dpiCalls)
{
#ifdef NDEBUG
    // The engine's debug trace is not for the user's eyes.
    SetTraceSink([](std::string_view) {});
#endif
    // Controls of the current common controls, with the system's look.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    VarnisDlg dlg(dpiCalls);
    return dlg.Run() == -1 ? 1 : 0;
}

}  // namespace varnis
