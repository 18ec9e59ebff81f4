// The command line's window: the form the link and the build talk to, held in
// memory under the window's rules. Its message boxes become lines of output,
// its timers are those of an EventLoop.
#pragma once

#include "apps/cli/CliOptions.h"
#include "config/CardSettings.h"
#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"
#include "ui/core/FormIds.h"
#include "ui/core/FormRules.h"
#include "ui/core/MemorySurface.h"

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

// The form in memory under the window's own rules (ui/core/FormRules.h): on
// connecting, the choices are clicked and typed in as a user would.
class CliWindow final : public ILinkWindow, private IConfirmation {
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
    // Runs when the link gives up on a probe, before the search moves on.
    void SetOnProbeUnanswered(std::function<void()> hook) { m_onProbeUnanswered = std::move(hook); }
    // Each received byte, with the reply reader's state before it takes the
    // byte: "Failure!" then tells what the device's reply held.
    void NoteReplyByte(std::int32_t nParserState, std::uint32_t nByte);

    // IMessageSink: the device's answers go to `out` as they are; every other
    // box goes to `err` as "caption: text".
    void ShowMessage(std::string_view text, std::string_view caption) override;

    // IBuildForm
    bool IsPortOpen() const override { return m_rules.IsPortOpen(); }
    void ReadFormTexts() override { m_rules.ReadFormTexts(); }
    const CardSettings& Settings() const override { return m_rules.Settings(); }
    int SelectedSector() const override { return m_surface.Selection(kIdSector); }
    int SelectedBlock() const override { return m_surface.Selection(kIdBlock); }
    int SelectedStartAddress() const override { return m_surface.Selection(kIdStartAddress); }
    int SelectedEndAddress() const override { return m_surface.Selection(kIdEndAddress); }

    // ILinkWindow
    void SetPortOpen(bool bOpen) override { m_rules.SetPortOpen(bOpen); }
    void StartTimer(int nId, int nMilliseconds) override;
    void StopTimer(int nId) override;
    // The window's connected state (the port marked open, the form back to
    // its defaults), then the form filled in from the choices.
    void EnterConnectedState() override;
    void EnterDisconnectedState() override;
    ISerialOwner* PortOwner() override { return m_pOwner; }
    void OnProbeUnanswered() override
    {
        if (m_onProbeUnanswered) {
            m_onProbeUnanswered();
        }
    }

private:
    // IConfirmation: the answer the caller took before anything was sent.
    bool Confirm(std::string_view, std::string_view) override { return m_bLockingConfirmed; }
    void FillForm();
    void Click(int nId);
    std::string FailureDetail() const;
    std::string RangeDetail() const;

    FormChoices m_choices;
    bool m_bLockingConfirmed;
    std::ostream& m_out;
    std::ostream& m_err;
    MemorySurface m_surface;
    FormRules m_rules;
    bool m_bConnected = false;
    bool m_bHoldNotFound = false;
    DeviceAnswer m_eAnswer = DeviceAnswer::None;
    IWindowTimers* m_pTimers = nullptr;
    DeviceLink* m_pLink = nullptr;
    ISerialOwner* m_pOwner = nullptr;
    std::function<void()> m_onProbeUnanswered;
    // The status, check and end bytes of the device's last reply.
    std::uint8_t m_nReplyStatus = 0;
    std::uint8_t m_nReplyCheck = 0;
    std::uint8_t m_nReplyEnd = 0;
};

}  // namespace varnis::cli
