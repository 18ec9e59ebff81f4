// The main window in Qt: the form made from the core's table, and every
// event handed to the window's core (ui/core/VarnisDlgCore.h), which holds
// the rules, the states and the routing. The engine's wiring, the timers and
// the surface are held privately (VarnisDlgPrivate.h); the form is made in
// FormLayout.cpp, the menu and the minimised picture are in VarnisDlgMenu.cpp.
#pragma once

#include "ui/core/FormIds.h"
#include "ui/core/FormTable.h"

#include <QDialog>

#include <memory>
#include <string_view>

class QIcon;

namespace varnis {

struct CardSettings;
class IMessageBoxes;
class PortTable;

// Stand-in for the form's dialog font; it has the CJK glyphs the form needs.
inline constexpr const char* kDialogFontFamily = "Noto Sans CJK SC";

class VarnisDlg : public QDialog {
    Q_OBJECT
public:
    explicit VarnisDlg(QWidget* pParent = nullptr);
    ~VarnisDlg() override;

    // Wiring, before the first "OpenPort". Without a table the machine's own
    // serial devices are used; without boxes a person answers QMessageBoxes.
    void SetPortTable(const PortTable& table);
    void SetMessageBoxes(IMessageBoxes* pBoxes);
    IMessageBoxes& MessageBoxes();
    const QIcon& WindowIcon() const;

    // Events, as the controls, the menu and the engine deliver them.
    void OnOpenPort();
    void OnClosePort();
    void OnMake();
    void OnClickRule(int nId);
    void OnSysCommand(unsigned nId);
    void ShowHelpWindow();

    // What the device link and the build ask of the window.
    void ShowMessage(std::string_view text, std::string_view caption);
    bool IsPortOpen() const;
    const CardSettings& Settings() const;
    void EnterConnectedState();
    void EnterDisconnectedState();
    // The link's window timers; a test may hold them back.
    virtual void StartTimer(int nId, int nMilliseconds);
    virtual void StopTimer(int nId);

protected:
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    friend class VarnisDlgProbe;
    struct Private;

    void CreateForm();
    void CreateSystemMenu();

    std::unique_ptr<Private> m_p;
};

}  // namespace varnis
