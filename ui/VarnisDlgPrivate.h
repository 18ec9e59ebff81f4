// What the main window holds behind its public face: the engine and the link
// with their wiring, the flags, the settings, the controls and the timers.
// For the window's own files and its probe only.
#pragma once

#include "config/CardSettings.h"
#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"
#include "serial/OwnerThread.h"
#include "serial/SerialPort.h"
#include "ui/FormControls.h"
#include "ui/MessageBoxes.h"
#include "ui/QtOwnerThread.h"
#include "ui/VarnisDlg.h"

#include <QIcon>
#include <QString>

#include <cstdint>
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

struct VarnisDlg::Private {
    // The window as the device link and the build see it.
    class LinkWindow final : public ILinkWindow {
    public:
        explicit LinkWindow(VarnisDlg& dlg) : m_dlg(dlg) {}

        // IBuildForm
        void ShowMessage(std::string_view text, std::string_view caption) override { m_dlg.ShowMessage(text, caption); }
        bool IsPortOpen() const override { return m_dlg.IsPortOpen(); }
        void ReadFormTexts() override { m_dlg.ReadFormTexts(); }
        const CardSettings& Settings() const override { return m_dlg.Settings(); }
        int SelectedSector() const override { return m_dlg.SelectedSector(); }
        int SelectedBlock() const override { return m_dlg.SelectedBlock(); }
        int SelectedStartAddress() const override { return m_dlg.SelectedStartAddress(); }
        int SelectedEndAddress() const override { return m_dlg.SelectedEndAddress(); }
        // ILinkWindow
        void SetPortOpen(bool bOpen) override { m_dlg.SetPortOpen(bOpen); }
        void StartTimer(int nId, int nMilliseconds) override { m_dlg.StartTimer(nId, nMilliseconds); }
        void StopTimer(int nId) override { m_dlg.StopTimer(nId); }
        void EnterConnectedState() override { m_dlg.EnterConnectedState(); }
        void EnterDisconnectedState() override { m_dlg.EnterDisconnectedState(); }
        ISerialOwner* PortOwner() override;

    private:
        VarnisDlg& m_dlg;
    };

    explicit Private(VarnisDlg& dlg);

    void OnNotification(const SerialNotification& n);
    // The window timer with an id, made on first use; its expiry goes to the link.
    QTimer* Timer(int nId);
    const QTimer* FindTimer(int nId) const;

    VarnisDlg& m_dlg;
    LinkWindow m_linkWindow;

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

    FormControls m_controls;
    std::map<int, QTimer*> m_timers;
    QMenu* m_pSystemMenu = nullptr;
};

}  // namespace varnis
