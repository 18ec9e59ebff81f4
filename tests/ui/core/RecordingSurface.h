// The window core's tests: the form in memory, and a shell that records the
// boxes, the timers, the menu and the window's end.
#pragma once

#include "serial/EventLoop.h"
#include "ui/core/DialogSurface.h"
#include "ui/core/MemorySurface.h"
#include "ui/core/FormTable.h"

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace varnis::coretest {

using RecordingSurface = MemorySurface;

class RecordingShell final : public IDialogShell, public IShellResources {
public:
    void Message(std::string_view text, std::string_view caption) override
    {
        m_messages.push_back(std::string(caption) + ": " + std::string(text));
    }
    void ErrorMessage(std::string_view text, std::string_view caption, bool /*bLineLost*/) override
    {
        m_messages.push_back(std::string(caption) + "! " + std::string(text));
    }
    bool Confirm(std::string_view text, std::string_view caption) override
    {
        m_messages.push_back(std::string(caption) + "? " + std::string(text));
        if (m_onConfirm)
            m_onConfirm();
        return m_bConfirmAnswer;
    }
    void StartTimer(int nId, int nMilliseconds) override { m_timers[nId] = nMilliseconds; }
    void StopTimer(int nId) override { m_timers.erase(nId); }
    void ShowHelpWindow() override { ++m_nHelpShown; }
    void EndWindow(bool bOk) override { m_ends.push_back(bOk); }

    std::string ResourceString(int nId) const override { return nId == kAboutMenuStringId ? m_strAbout : ""; }
    void AppendMenuItem(unsigned nCommand, std::string_view text) override
    {
        m_menu.push_back(std::to_string(nCommand) + " " + std::string(text));
    }
    void SetWindowIcon() override { ++m_nIconsSet; }

    std::vector<std::string> m_messages;
    bool m_bConfirmAnswer = true;
    std::function<void()> m_onConfirm;  // runs inside the confirmation
    std::map<int, int> m_timers;
    int m_nHelpShown = 0;
    std::vector<bool> m_ends;
    std::string m_strAbout = kAboutMenuText;
    std::vector<std::string> m_menu;
    int m_nIconsSet = 0;
};

}  // namespace varnis::coretest
