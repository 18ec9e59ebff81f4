// The main window: the form, the routing of its events to the device link,
// the click rules and the two connection states.
#pragma once

#include "config/CardSettings.h"
#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"
#include "serial/OwnerThread.h"
#include "serial/PortTable.h"
#include "serial/SerialPort.h"
#include "ui/FormIds.h"
#include "ui/MessageBoxes.h"
#include "ui/QtOwnerThread.h"

#include <QDialog>
#include <QIcon>

#include <cstdint>
#include <map>
#include <memory>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QMenu;
class QTimer;

namespace varnis {

class FormCheckBox;
class FormRadioButton;

inline constexpr const char* kMainWindowTitle = "Provin Generator v3.3";
inline constexpr const char* kAboutMenuText = "关于 Varnis(&A)...";
inline constexpr const char* kLockingConfirmText =
    "Configuration will not be able to change after configuration locking enabled,are you sure to start the operation?";
// Stand-in for the form's dialog font; it has the CJK glyphs the form needs.
inline constexpr const char* kDialogFontFamily = "Noto Sans CJK SC";
inline constexpr int kDialogFontPoints = 9;
inline constexpr int kFormWidthUnits = 405;
inline constexpr int kFormHeightUnits = 287;

class VarnisDlg : public QDialog, public ILinkWindow {
    Q_OBJECT
public:
    explicit VarnisDlg(QWidget* pParent = nullptr);
    ~VarnisDlg() override;

    // Wiring, before the first "OpenPort". Without a table the machine's own
    // serial devices are used; without boxes a person answers QMessageBoxes.
    void SetPortTable(const PortTable& table);
    void SetMessageBoxes(IMessageBoxes* pBoxes);
    IMessageBoxes& MessageBoxes();

    // The control with a form id, or null.
    QWidget* Control(int nId) const;
    const QIcon& WindowIcon() const { return m_icon; }
    QMenu* SystemMenu() const { return m_pSystemMenu; }

    // Events, as the controls, the menu and the engine deliver them.
    void OnOpenPort();
    void OnClosePort();
    void OnMake();
    void OnClickRule(int nId);
    void OnSysCommand(unsigned nId);
    void ShowHelpWindow();

    std::int32_t ConfigLockingFlag() const { return m_nConfigLocking; }
    const BuildState& Build() const { return m_buildState; }
    const LinkState& Link() const { return m_linkState; }
    bool IsTimerRunning(int nId) const;

    // IBuildForm
    void ShowMessage(std::string_view text, std::string_view caption) override;
    bool IsPortOpen() const override { return m_nPortOpen != 0; }
    void ReadFormTexts() override;
    const CardSettings& Settings() const override { return m_settings; }
    int SelectedSector() const override;
    int SelectedBlock() const override;
    int SelectedStartAddress() const override;
    int SelectedEndAddress() const override;
    // ILinkWindow
    void SetPortOpen(bool bOpen) override { m_nPortOpen = bOpen ? 1 : 0; }
    void StartTimer(int nId, int nMilliseconds) override;
    void StopTimer(int nId) override;
    void EnterConnectedState() override;
    void EnterDisconnectedState() override;
    ISerialOwner* PortOwner() override { return &m_ownerChannel; }

    void ShowFormTexts();

protected:
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void CreateForm();
    void OnInitMainWindow();
    void OnNotification(const SerialNotification& n);
    void RunClickRule(int nId);
    void OnLockingClicked();
    // Puts the keyboard focus on push button `nToId` unless it is on "Exit" or
    // "Help"; called before the button it replaces and the options are disabled.
    void MoveFocusToButton(int nToId);

    void Enable(int nId, bool bEnable);
    void Enable(std::initializer_list<int> ids, bool bEnable);
    void SetCheck(int nId, bool bChecked);  // runs no rule
    bool IsChecked(int nId) const;
    QLineEdit* Edit(int nId) const;
    QComboBox* List(int nId) const;
    // Checks `nId`, clears the rest of its group and runs its rule.
    void CheckAndRun(int nId);

    // Wiring first: it must outlive the engine, which is destroyed before it.
    QtOwnerThread m_ownerThread;
    std::unique_ptr<IMessageBoxes> m_pDefaultBoxes;
    IMessageBoxes* m_pBoxes = nullptr;
    QtErrorReporter m_errorReporter;
    SerialOwnerChannel m_ownerChannel;

    SerialPort m_serialPort;
    std::int32_t m_nPortOpen = 0;
    std::int32_t m_nConfigLocking = 0;
    int m_nRuleId = 0;  // the control whose click rule runs, 0 outside a rule
    CardSettings m_settings;
    BuildState m_buildState;
    LinkState m_linkState;
    SerialPortEngine m_engine;
    DeviceLink m_link;
    QIcon m_icon;

    std::map<int, QWidget*> m_controls;
    std::map<int, QTimer*> m_timers;
    QMenu* m_pSystemMenu = nullptr;
};

}  // namespace varnis
