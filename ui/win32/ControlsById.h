// A dialog's own controls by their ids, listed once. GetDlgItem asks the
// system for the list of the dialog's children on every call (under Wine a
// round trip to its server); a form that sets dozens of controls while it
// starts looks them up here instead. The controls live as long as the dialog.
#pragma once

#include <windows.h>

#include <map>

namespace varnis {

class ControlsById {
public:
    ControlsById() = default;
    explicit ControlsById(HWND hDlg);

    // The first child of the dialog with the id, as GetDlgItem finds it, or null.
    HWND Find(int nId) const;

private:
    std::map<int, HWND> m_controls;
};

}  // namespace varnis
