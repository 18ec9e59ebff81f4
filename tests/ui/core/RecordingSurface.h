// A form without a toolkit for the window core's tests: every control's
// state by id, the keyboard focus as a toolkit moves it, and a shell that
// records the boxes, the timers and the window's end.
#pragma once

#include "ui/core/DialogSurface.h"
#include "ui/core/FormTable.h"

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace varnis::coretest {

struct ControlState {
    bool m_bEnabled = true;
    bool m_bChecked = false;
    int m_nSelection = -1;
    std::string m_strText;
};

class RecordingSurface final : public IDialogSurface {
public:
    RecordingSurface()
    {
        for (const FormItem& item : MainFormItems()) {
            if (item.m_nId != 0)
                m_controls[item.m_nId] = {};
        }
        m_controls[kIdPortList].m_bEnabled = false;
    }

    // Disabling the focused control hands the focus to the next enabled Tab
    // stop, as toolkits do.
    void Enable(int nId, bool bEnable) override
    {
        m_controls.at(nId).m_bEnabled = bEnable;
        if (!bEnable && m_nFocus == nId)
            m_nFocus = NextTabStop(nId);
    }
    bool IsEnabled(int nId) const override { return m_controls.at(nId).m_bEnabled; }
    void SetCheck(int nId, bool bChecked) override { m_controls.at(nId).m_bChecked = bChecked; }
    bool IsChecked(int nId) const override { return m_controls.at(nId).m_bChecked; }
    void Select(int nId, int nIndex) override { m_controls.at(nId).m_nSelection = nIndex; }
    int Selection(int nId) const override { return m_controls.at(nId).m_nSelection; }
    void SetText(int nId, std::string_view text) override { m_controls.at(nId).m_strText = text; }
    std::string Text(int nId) const override { return m_controls.at(nId).m_strText; }
    int FocusedId() const override { return m_nFocus; }
    void Focus(int nId) override { m_nFocus = nId; }

    // A user's click: an automatic radio button or check box changes its
    // mark before the click reaches the window.
    void Mark(int nId)
    {
        const FormItem* pItem = FindFormItem(nId);
        if (pItem->m_eKind == ControlKind::Check) {
            m_controls.at(nId).m_bChecked = !m_controls.at(nId).m_bChecked;
            return;
        }
        for (const int nOther : GroupMembers(pItem->m_nGroup))
            m_controls.at(nOther).m_bChecked = nOther == nId;
    }

private:
    int NextTabStop(int nId) const
    {
        const std::span<const int> order = MainTabOrder();
        std::size_t nAt = 0;
        while (nAt < order.size() && order[nAt] != nId)
            ++nAt;
        for (std::size_t n = 1; n <= order.size(); ++n) {
            const int nNext = order[(nAt + n) % order.size()];
            if (m_controls.at(nNext).m_bEnabled)
                return nNext;
        }
        return 0;
    }

    std::map<int, ControlState> m_controls;
    int m_nFocus = 0;
};

class RecordingShell final : public IDialogShell, public IShellResources {
public:
    void Message(std::string_view text, std::string_view caption) override
    {
        m_messages.push_back(std::string(caption) + ": " + std::string(text));
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
