#include "ui/win32/ModalChain.h"

namespace varnis {

namespace {

// The dialog window of this thread that `hOwner` owns, a visible one first;
// each link of the chain owns at most one open, and one ended but not yet
// destroyed (hidden).
HWND OwnedDialog(HWND hOwner)
{
    struct Search {
        HWND m_hOwner;
        HWND m_hVisible = nullptr;
        HWND m_hHidden = nullptr;
    } search{hOwner};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto& found = *reinterpret_cast<Search*>(lParam);
            wchar_t szClass[8] = {};
            if (GetWindow(hWnd, GW_OWNER) != found.m_hOwner || GetClassNameW(hWnd, szClass, 8) == 0 ||
                lstrcmpW(szClass, L"#32770") != 0) {
                return TRUE;
            }
            (IsWindowVisible(hWnd) ? found.m_hVisible : found.m_hHidden) = hWnd;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.m_hVisible != nullptr ? search.m_hVisible : search.m_hHidden;
}

}  // namespace

HWND ModalChain::Owner() const
{
    if (m_hMain == nullptr || !IsWindow(m_hMain)) {
        return nullptr;
    }
    HWND hOwner = m_hMain;
    HWND hLink = m_hMain;
    // One link for each window open; a window still being made has none yet.
    for (int n = 0; n < m_nOpen; ++n) {
        hLink = OwnedDialog(hLink);
        if (hLink == nullptr) {
            break;
        }
        if (IsWindowVisible(hLink)) {
            hOwner = hLink;
        }
    }
    return hOwner;
}

void ModalChain::OnMainEnabled(bool bEnabled)
{
    // The outermost window ends last in the ordinary order; while it is
    // the only one open, its ending enables the main window as it should.
    if (bEnabled && m_nOpen > 1 && m_hMain != nullptr) {
        m_bKeptDisabled = true;
        EnableWindow(m_hMain, FALSE);
    }
}

ModalChain::Scope::Scope(ModalChain& chain) : m_chain(chain), m_hOwner(chain.Owner())
{
    ++m_chain.m_nOpen;
}

ModalChain::Scope::~Scope()
{
    if (--m_chain.m_nOpen == 0 && m_chain.m_bKeptDisabled) {
        m_chain.m_bKeptDisabled = false;
        if (m_chain.m_hMain != nullptr && IsWindow(m_chain.m_hMain)) {
            EnableWindow(m_chain.m_hMain, TRUE);
            SetActiveWindow(m_chain.m_hMain);
        }
    }
}

}  // namespace varnis
