// What the window's core needs of a toolkit: a surface of controls addressed
// by form id, and a shell around it (boxes, timers, the help window). Both are
// passive: they run no rule of their own. A check mark set through the surface
// runs no click rule; a control's click reaches the core as OnCommand.
#pragma once

#include "link/DeviceLink.h"

#include <string>
#include <string_view>

namespace varnis {

class IDialogSurface {
public:
    virtual ~IDialogSurface() = default;
    // Disabling the control that has the keyboard focus hands the focus on
    // first, to the next Tab stop, as the toolkit does.
    virtual void Enable(int nId, bool bEnable) = 0;
    virtual bool IsEnabled(int nId) const = 0;
    virtual void SetCheck(int nId, bool bChecked) = 0;
    virtual bool IsChecked(int nId) const = 0;
    virtual void Select(int nId, int nIndex) = 0;
    virtual int Selection(int nId) const = 0;
    // Texts are UTF-8; an edit field keeps its length limit.
    virtual void SetText(int nId, std::string_view text) = 0;
    virtual std::string Text(int nId) const = 0;
    // The form id of the control that has the keyboard focus, 0 for none.
    virtual int FocusedId() const = 0;
    virtual void Focus(int nId) = 0;
};

// The locking confirmation: OK and Cancel with the warning icon; true when OK
// closed it. Timers and notifications keep being handled while it is open.
class IConfirmation {
public:
    virtual ~IConfirmation() = default;
    virtual bool Confirm(std::string_view text, std::string_view caption) = 0;
};

class IDialogShell : public IConfirmation {
public:
    // A modal box owned by the window: one OK button, no icon. Timers and
    // notifications keep being handled while it is open.
    virtual void Message(std::string_view text, std::string_view caption) = 0;
    // The engine's error box, with the error icon; `bLineLost`: the failure
    // lost the line, and SPN_LINE_LOST follows.
    virtual void ErrorMessage(std::string_view text, std::string_view caption, bool bLineLost) = 0;
    // The link's outcomes and the search's steps, as values. A window shows
    // an outcome's text in a box; a front end without boxes tells them its way.
    virtual void OnAnswer(const LinkAnswer& answer) { Message(answer.m_text, answer.m_caption); }
    virtual void OnSearchStep(const SearchStep& /*step*/) {}
    // The line to the device has gone. True: the link lets go of it (a search
    // goes on, a connection closes); a front end that ends its run on it
    // returns false and the link is asked nothing more.
    virtual bool OnLineLost(unsigned /*portnr*/) { return true; }
    // Window timers by id: starting a running id restarts it; once StopTimer
    // has returned, no expiry of that start reaches the core.
    virtual void StartTimer(int nId, int nMilliseconds) = 0;
    virtual void StopTimer(int nId) = 0;
    virtual void ShowHelpWindow() = 0;
    // Ends the window's modal run with OK (true) or Cancel.
    virtual void EndWindow(bool bOk) = 0;
};

// What the window has of its own beside the form: resources, menu and icon.
class IShellResources {
public:
    virtual ~IShellResources() = default;
    // A string of the program's resources, "" when there is none.
    virtual std::string ResourceString(int nId) const = 0;
    // Adds a separator and a text item with a command id to the window's menu.
    virtual void AppendMenuItem(unsigned nCommand, std::string_view text) = 0;
    // The window's large and small icon: the application icon.
    virtual void SetWindowIcon() = 0;
};

}  // namespace varnis
