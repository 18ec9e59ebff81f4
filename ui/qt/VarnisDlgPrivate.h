// What the main window holds behind its public face: the window's thread for
// the core's hand-overs, the form's controls as the core's surface, the shell
// the core calls, the timers and the core itself. For the window's own files
// and its probe only.
#pragma once

#include "ui/core/VarnisDlgCore.h"
#include "ui/qt/FormControls.h"
#include "ui/qt/MessageBoxes.h"
#include "ui/qt/QtOwnerThread.h"
#include "ui/qt/VarnisDlg.h"

#include <QIcon>
#include <QString>

#include <map>
#include <memory>
#include <string_view>

class QMenu;
class QTimer;

namespace varnis {

inline QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct VarnisDlg::Private final : public IDialogShell, public IShellResources {
    explicit Private(VarnisDlg& dlg);

    // IDialogShell
    void Message(std::string_view text, std::string_view caption) override;
    void ErrorMessage(std::string_view text, std::string_view caption, bool bLineLost) override;
    bool Confirm(std::string_view text, std::string_view caption) override;
    void StartTimer(int nId, int nMilliseconds) override { m_dlg.StartTimer(nId, nMilliseconds); }
    void StopTimer(int nId) override { m_dlg.StopTimer(nId); }
    void ShowHelpWindow() override { m_dlg.ShowHelpWindow(); }
    void EndWindow(bool bOk) override;
    // IShellResources
    std::string ResourceString(int nId) const override;
    void AppendMenuItem(unsigned nCommand, std::string_view text) override;
    void SetWindowIcon() override;

    // The window timer with an id, made on first use; its expiry goes to the core.
    QTimer* Timer(int nId);
    const QTimer* FindTimer(int nId) const;

    VarnisDlg& m_dlg;

    // Before the core, whose hand-overs run on it.
    QtOwnerThread m_ownerThread;
    std::unique_ptr<IMessageBoxes> m_pDefaultBoxes;
    IMessageBoxes* m_pBoxes = nullptr;

    QIcon m_icon;
    FormControls m_controls;
    std::map<int, QTimer*> m_timers;
    QMenu* m_pSystemMenu = nullptr;

    VarnisDlgCore m_core;
};

}  // namespace varnis
