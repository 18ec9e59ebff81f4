#include "ui/win32/ControlsById.h"

namespace varnis {

namespace {

struct Listing {
    HWND m_hDlg;
    std::map<int, HWND>* m_pControls;
};

BOOL CALLBACK OnChild(HWND hChild, LPARAM lParam)
{
    const auto& listing = *reinterpret_cast<const Listing*>(lParam);
    // The children's own children (a list's edit part) are not the dialog's;
    // the first of an id in the system's order wins, as with GetDlgItem.
    if (GetParent(hChild) == listing.m_hDlg)
        listing.m_pControls->emplace(GetDlgCtrlID(hChild), hChild);
    return TRUE;
}

}  // namespace

ControlsById::ControlsById(HWND hDlg)
{
    Listing listing{hDlg, &m_controls};
    if (hDlg != nullptr)
        EnumChildWindows(hDlg, &OnChild, reinterpret_cast<LPARAM>(&listing));
}

HWND ControlsById::Find(int nId) const
{
    const auto found = m_controls.find(nId);
    return found != m_controls.end() ? found->second : nullptr;
}

}  // namespace varnis
