// The modal windows of the window's thread as one chain: the main window,
// then each box or help window owned by the window that was modal when it
// opened (never by one already disabled under another). Closing an outer
// window of the chain first (its EndDialog enables its owner) never leaves
// the form enabled under a box still open: while more than one of them is
// open, the main window is kept disabled.
#pragma once

#include <windows.h>

namespace varnis {

class ModalChain {
public:
    void SetMain(HWND hMain) { m_hMain = hMain; }
    // Whether a modal window of the chain is open over the main window.
    bool IsOpen() const { return m_nOpen > 0; }
    // The main window's WM_ENABLE: an enabling while windows remain open
    // over it is undone.
    void OnMainEnabled(bool bEnabled);

    // One modal window's run, from before it opens until it has closed.
    class Scope {
    public:
        explicit Scope(ModalChain& chain);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        // Its owner: the last visible window of the chain when it began;
        // none while there is no main window.
        HWND Owner() const { return m_hOwner; }

    private:
        ModalChain& m_chain;
        HWND m_hOwner;
    };

private:
    HWND Owner() const;

    HWND m_hMain = nullptr;
    int m_nOpen = 0;
    bool m_bKeptDisabled = false;  // an outer window closed first: the main window is enabled at the end
};

}  // namespace varnis
