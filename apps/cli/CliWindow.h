// The command line's window: the form the link and the build talk to. Its
// message boxes become lines of output, its timers are those of an EventLoop.
#pragma once

#include "apps/cli/CliOptions.h"
#include "config/CardSettings.h"
#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace varnis::cli {

// Where the window's timers run: started and stopped by id, an expiry calls
// back on the window's thread.
class IWindowTimers {
public:
    virtual ~IWindowTimers() = default;
    virtual void Start(int nId, int nMilliseconds, std::function<void()> onExpiry) = 0;
    virtual void Stop(int nId) = 0;
};

// The device's answers and the search's message, as the link shows them.
inline constexpr std::string_view kSuccessText = kMsgSuccess;
inline constexpr std::string_view kFailureText = kMsgFailure;
inline constexpr std::string_view kTimeOutText = kMsgTimeout;
inline constexpr std::string_view kNotFoundText = kMsgNotFound;
inline constexpr std::string_view kInitialiseSucceedText = kMsgInitSucceed;
inline constexpr std::string_view kInitialiseFailText = kMsgInitFail;
inline constexpr std::string_view kLockingQuestion =
    "Configuration will not be able to change after configuration locking enabled,are you sure to start the "
    "operation?";

// What the last message box told about the device.
enum class DeviceAnswer : std::uint8_t { None, Success, Failure, TimeOut, NotFound };

// The four edit fields of the form.
struct FormTexts {
    std::string m_strKey;
    std::string m_strImpulseInterval;
    std::string m_strImpulseWidth;
    std::string m_strPassword;
};

class CliWindow final : public ILinkWindow {
public:
    // `bLockingConfirmed`: the answer to the locking confirmation, asked by
    // the caller before anything is sent (OK = true).
    CliWindow(FormChoices choices, bool bLockingConfirmed, BuildState& buildState, std::ostream& out,
              std::ostream& err);

    // Timers run on `pTimers`, expiries go to `pLink`; `pOwner` is handed to the engine.
    void Attach(IWindowTimers* pTimers, DeviceLink* pLink, ISerialOwner* pOwner);

    bool IsConnected() const { return m_bConnected; }
    DeviceAnswer LastAnswer() const { return m_eAnswer; }
    void ClearAnswer() { m_eAnswer = DeviceAnswer::None; }
    // While held, "not found" is recorded but not shown: the caller tells
    // more precisely why a port it named could not be used.
    void HoldNotFound(bool bHold) { m_bHoldNotFound = bHold; }
    const FormTexts& Fields() const { return m_fields; }
    // Runs before each timer expiry reaches the link, with the timer's id.
    void SetBeforeTimer(std::function<void(int)> hook) { m_beforeTimer = std::move(hook); }
    // Each received byte, with the reply reader's state before it takes the
    // byte: "Failure!" then tells what the device's reply held.
    void NoteReplyByte(std::int32_t nParserState, std::uint32_t nByte);

    // IMessageSink: the device's answers go to `out` as they are; every other
    // box goes to `err` as "caption: text".
    void ShowMessage(std::string_view text, std::string_view caption) override;

    // IBuildForm
    bool IsPortOpen() const override { return m_bPortOpen; }
    void ReadFormTexts() override;
    const CardSettings& Settings() const override { return m_settings; }
    int SelectedSector() const override { return m_settings.m_nSector; }
    int SelectedBlock() const override { return m_settings.m_nBlock; }
    int SelectedStartAddress() const override { return m_settings.m_nStartAddress; }
    int SelectedEndAddress() const override { return m_settings.m_nEndAddress; }

    // ILinkWindow
    void SetPortOpen(bool bOpen) override { m_bPortOpen = bOpen; }
    void StartTimer(int nId, int nMilliseconds) override;
    void StopTimer(int nId) override;
    // Marks the port open, puts the connection defaults back and then fills
    // in the form from the choices, as the user would after connecting.
    void EnterConnectedState() override;
    void EnterDisconnectedState() override;
    ISerialOwner* PortOwner() override { return m_pOwner; }

private:
    void FillForm();
    void ShowImpulseTexts();
    void OnLockingClicked();
    std::string FailureDetail() const;
    std::string RangeDetail() const;

    FormChoices m_choices;
    bool m_bLockingConfirmed;
    BuildState& m_build;
    std::ostream& m_out;
    std::ostream& m_err;
    CardSettings m_settings;
    FormTexts m_fields;
    bool m_bPortOpen = false;
    bool m_bConnected = false;
    bool m_bHoldNotFound = false;
    DeviceAnswer m_eAnswer = DeviceAnswer::None;
    IWindowTimers* m_pTimers = nullptr;
    DeviceLink* m_pLink = nullptr;
    ISerialOwner* m_pOwner = nullptr;
    std::function<void(int)> m_beforeTimer;
    // The status, check and end bytes of the device's last reply.
    std::uint8_t m_nReplyStatus = 0;
    std::uint8_t m_nReplyCheck = 0;
    std::uint8_t m_nReplyEnd = 0;
};

}  // namespace varnis::cli
