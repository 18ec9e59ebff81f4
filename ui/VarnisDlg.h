// The main window: the form, the routing of its events to the device link,
// the click rules and the two connection states. The engine, the link, the
// timers and the form's state are held privately (VarnisDlgPrivate.h). The
// wiring is in VarnisDlg.cpp, the form in FormLayout.cpp and FormControls.cpp,
// the rules and states in VarnisDlgRules.cpp, the menu in VarnisDlgMenu.cpp.
#pragma once

#include "ui/FormIds.h"

#include <QDialog>

#include <initializer_list>
#include <memory>
#include <string_view>

class QIcon;

namespace varnis {

struct CardSettings;
class IMessageBoxes;
class PortTable;

inline constexpr const char* kMainWindowTitle = "Provin Generator v3.3";
inline constexpr const char* kAboutMenuText = "关于 Varnis(&A)...";
inline constexpr const char* kLockingConfirmText =
    "Configuration will not be able to change after configuration locking enabled,are you sure to start the operation?";
// Stand-in for the form's dialog font; it has the CJK glyphs the form needs.
inline constexpr const char* kDialogFontFamily = "Noto Sans CJK SC";
inline constexpr int kDialogFontPoints = 9;
inline constexpr int kFormWidthUnits = 405;
inline constexpr int kFormHeightUnits = 287;

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
    void SetPortOpen(bool bOpen);
    void ReadFormTexts();
    void ShowFormTexts();
    const CardSettings& Settings() const;
    int SelectedSector() const;
    int SelectedBlock() const;
    int SelectedStartAddress() const;
    int SelectedEndAddress() const;
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
    void OnInitMainWindow();
    void RunClickRule(int nId);
    void OnLockingClicked();
    // Puts the keyboard focus on push button `nToId` unless it is on "Exit" or
    // "Help"; called before the button it replaces and the options are disabled.
    void MoveFocusToButton(int nToId);
    void Enable(int nId, bool bEnable);
    void Enable(std::initializer_list<int> ids, bool bEnable);
    // Checks `nId`, clears the rest of its group and runs its rule.
    void CheckAndRun(int nId);
    // Sets the flag and the setting from the locking check mark as it stands.
    void TakeLockingFromCheckMark();
    // The defaults a new connection and the start share: the four texts shown,
    // the lists at 0, 0, 0 and 4.
    void ShowDefaultTexts();
    void SelectDefaultListItems();

    std::unique_ptr<Private> m_p;
};

}  // namespace varnis
