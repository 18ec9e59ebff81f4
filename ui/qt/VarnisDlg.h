// The main window in Qt: the form made from the core's table, and every
// event handed to the window's core (ui/core/VarnisDlgCore.h), which holds
// the rules, the states, the routing and the engine's wiring. The window's
// thread, the timers and the surface are held privately (VarnisDlgPrivate.h);
// the form is made in FormLayout.cpp, the menu and the minimised picture are
// in VarnisDlgMenu.cpp. Tests look inside through VarnisDlgProbe.
#pragma once

#include "ui/core/FormIds.h"
#include "ui/core/FormTable.h"

#include <QDialog>

#include <memory>

namespace varnis {

class IMessageBoxes;
class PortTable;

// Stand-in for the form's dialog font; it has the CJK glyphs the form needs.
inline constexpr const char* kDialogFontFamily = "Noto Sans CJK SC";

class VarnisDlg : public QDialog {
    Q_OBJECT
public:
    explicit VarnisDlg(QWidget* pParent = nullptr);
    ~VarnisDlg() override;

    // Before the first "OpenPort". Without a table the machine's own serial
    // devices are used; without boxes a person answers QMessageBoxes.
    void SetPortTable(const PortTable& table);
    void SetMessageBoxes(IMessageBoxes* pBoxes);

protected:
    // The link's window timers; a test may hold them back.
    virtual void StartTimer(int nId, int nMilliseconds);
    virtual void StopTimer(int nId);

    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    friend class VarnisDlgProbe;
    struct Private;

    void CreateForm();
    void CreateSystemMenu();
    void OnSysCommand(unsigned nId);
    void ShowHelpWindow();

    std::unique_ptr<Private> m_p;
};

}  // namespace varnis
