// The device link: the "Make Provin" exchange, the reply reader, the two
// timers, the search for the device and the closing of the port.
#pragma once

#include "config/SettingsBuild.h"
#include "serial/SerialNotify.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace varnis {

class SerialPort;

inline constexpr int kReplyTimerId = 1;
inline constexpr int kReplyTimerMs = 1000;
inline constexpr int kProbeTimerId = 2;
inline constexpr int kProbeTimerMs = 100;
inline constexpr int kRingSize = 1024;

// Ports tried by the search, and the line settings used for each of them.
inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 10;
inline constexpr int kLinkBaud = 9600;
inline constexpr char kLinkParity = 'N';
inline constexpr int kLinkDataBits = 8;
inline constexpr int kLinkStopBits = 1;
inline constexpr std::uint32_t kLinkEventMask = EV_RXCHAR | EV_RXFLAG;
inline constexpr int kLinkSendBufferSize = 512;

// The messages the link shows (caption "Warning").
inline constexpr std::string_view kMsgSuccess = "Success!";
inline constexpr std::string_view kMsgFailure = "Failure!";
inline constexpr std::string_view kMsgInitSucceed = "Initialize card succeed";
inline constexpr std::string_view kMsgInitFail = "Initialize card fail";
inline constexpr std::string_view kMsgTimeout = "Communication Over time,please check the hardware.";
inline constexpr std::string_view kMsgNotFound = "Provin Generator Device not found.";

enum PendingOperation : std::int32_t { PendingNone = 0, PendingMake = 1 };

// Parser states of the reply reader.
enum ParserState : std::int32_t {
    ParserWaitAck = 0,
    ParserWaitStx = 1,
    ParserWaitStart = 2,
    ParserStatus = 3,
    ParserLength = 4,
    ParserCheck = 5,
    ParserEnd = 6,
};

// The link's variables. The program holds exactly one.
struct LinkState {
    std::array<std::int32_t, kRingSize> m_ring{};
    std::int32_t m_nWritePos = 0;
    std::int32_t m_nReadPos = 0;
    std::int32_t m_nParserState = ParserWaitAck;
    std::int32_t m_nPendingOperation = PendingNone;
    bool m_bStatusOk = false;
    bool m_bCheckOk = false;
    bool m_bProbeOutstanding = false;
    std::int32_t m_nNextPortToProbe = kFirstPort;
    // The port of the probe sent last.
    unsigned m_nProbedPort = 0;
    // The status and check bytes of the reply being read.
    std::uint8_t m_nReplyStatus = 0;
    std::uint8_t m_nReplyCheck = 0;
    // Set once a "Make Provin" build has succeeded: until then there is no
    // staged block, and an ACK must not send a frame of zeros to the device.
    bool m_bFrameStaged = false;
    // The search has already ended with its message while the probe on the
    // last port still waits (that port stays open): an answer in time still
    // connects, but the probe's expiry starts no new search.
    bool m_bSearchEnded = false;
    // Counts the changes of the port (each port a search step opens, each
    // close). A handler that called out of the link (the engine's error box
    // runs other handlers inside it) sees from it whether the port is still
    // the one it opened.
    std::uint32_t m_nPortChanges = 0;
    // One bit a timer id whose expiry waits for the engine to catch up with
    // the line, and one bit a timer id whose expiry the engine has caught up
    // with (OnLinkTimer, OnCaughtUp).
    std::uint32_t m_nCatchUpPending = 0;
    std::uint32_t m_nCaughtUp = 0;
};

// How an exchange or a search ended, as the link tells its window.
enum class LinkAnswerKind : std::uint8_t {
    Success,              // the device has written the card
    Failure,              // the device's reply said no, or was spoilt
    InitialiseSucceeded,  // a reply that came with no card pending, good
    InitialiseFailed,     // the same, spoilt
    TimeOut,              // no reply in time
    NotFound,             // the search found no device
    Refused,              // the build refused the form; nothing was sent
};

struct LinkAnswer {
    LinkAnswerKind m_eKind = LinkAnswerKind::Success;
    // What the window shows for it, in a box with this caption.
    std::string_view m_text;
    std::string_view m_caption;
    // The device's reply (Success, Failure and the initialise pair): its
    // status, check and end bytes.
    std::uint8_t m_nStatus = 0;
    std::uint8_t m_nCheck = 0;
    std::uint8_t m_nEnd = 0;
    // Refused: the build's check that refused the form.
    BuildCheck m_eRefused = BuildCheck::PortOpen;
};

// The search's progress, port by port.
enum class SearchStepKind : std::uint8_t {
    NotOpened,   // the engine could not open the port
    Probing,     // the port is open and the probe sent
    Unanswered,  // the probe went unanswered; the search moves on right after
    Found,       // the device answered the probe: connected
};

struct SearchStep {
    SearchStepKind m_eKind = SearchStepKind::NotOpened;
    unsigned m_nPort = 0;
};

// What the link needs of the window (the build's needs included).
class ILinkWindow : public IBuildForm {
public:
    virtual void SetPortOpen(bool bOpen) = 0;
    // Window timers: starting a running id restarts it; expiry calls
    // DeviceLink::OnLinkTimer(nId) on the window's thread.
    virtual void StartTimer(int nId, int nMilliseconds) = 0;
    virtual void StopTimer(int nId) = 0;
    virtual void EnterConnectedState() = 0;
    virtual void EnterDisconnectedState() = 0;
    // An outcome; the window shows its text in a box. A window that tells
    // outcomes otherwise reads the values.
    virtual void OnAnswer(const LinkAnswer& answer) { ShowMessage(answer.m_text, answer.m_caption); }
    // A step of the search; a window shows nothing for it.
    virtual void OnSearchStep(const SearchStep& /*step*/) {}
};

// What the link needs of the engine; SerialPortEngine adapts SerialPort.
class IPortEngine {
public:
    virtual ~IPortEngine() = default;
    // Opens COM`portnr`; its notifications go to the owner the engine was made for.
    virtual bool Initialise(unsigned portnr, int baud, char parity, int databits, int stopbits, std::uint32_t eventMask,
                            int sendBufferSize) = 0;
    virtual bool StartMonitor() = 0;
    virtual void Send(std::span<const std::uint8_t> data) = 0;
    virtual bool Close() = 0;
    // Asks for SPN_CAUGHT_UP with `nTag` once every byte the port has
    // received so far has been notified; false when no answer will come.
    virtual bool RequestCatchUp(std::uint32_t nTag) = 0;
};

// Bound to the owner of the port's notifications when it is made.
class SerialPortEngine : public IPortEngine {
public:
    SerialPortEngine(SerialPort& port, ISerialOwner& owner) : m_port(port), m_owner(owner) {}
    bool Initialise(unsigned portnr, int baud, char parity, int databits, int stopbits, std::uint32_t eventMask,
                    int sendBufferSize) override;
    bool StartMonitor() override;
    void Send(std::span<const std::uint8_t> data) override;
    bool Close() override;
    bool RequestCatchUp(std::uint32_t nTag) override;

private:
    SerialPort& m_port;
    ISerialOwner& m_owner;
};

// All handlers run on the window's thread, one at a time, except that every
// message box (the link's own, the form's, the engine's error boxes) runs an
// event loop in which timers and notifications are handled. The model that
// keeps that sound:
// - A handler records its outcome in the link state before it shows a box,
//   and after the box touches nothing that a nested handler may have moved.
// - A search step that opens another port ends the wait of the probe it
//   replaces before anything else, because opening closes that probe's port
//   and its answer can no longer come; so its expiry never runs inside the
//   step (inside the engine's error box, say) to start a step of its own.
// - The search step that called the engine checks afterwards that the port
//   is still the one it opened (m_nPortChanges); if a nested handler moved
//   on, the step ends there.
// - The engine delivers no byte of a port once it is closed or replaced, so
//   no handler sends on a port that is gone.
class DeviceLink {
public:
    DeviceLink(ILinkWindow& window, IPortEngine& engine, LinkState& linkState, BuildState& buildState);

    void OnMake();
    // The form built into the settings block, a refusal told as the link's
    // answer; nothing is sent. False: refused.
    bool BuildForm();
    // The SPN_RXCHAR handler: `byte` 0..255, `portnr` unused.
    void OnReceivedByte(std::uint32_t byte, std::uint32_t portnr);
    // A window timer's expiry. It acts once the bytes the port had already
    // received have been handled (the engine's SPN_CAUGHT_UP, OnCaughtUp): an
    // answer that came in time is never lost to a late timer.
    void OnLinkTimer(int nId);
    // The SPN_CAUGHT_UP handler: `nTag` the timer id, `portnr` unused.
    void OnCaughtUp(std::uint32_t nTag, std::uint32_t portnr);
    void OnOpenPort();
    void OnClosePort();
    // The SPN_LINE_LOST handler: the engine has reported that the line has
    // gone. Nothing waits on it any more: a probe on it gives way to the next
    // port at once, a card in progress on it ends, and a connection on it is
    // closed as ClosePort closes it.
    void OnLineLost(std::uint32_t portnr);

private:
    void ParseReplyByte();
    void OnAck();
    void OnReplyEnd(std::int32_t nEndByte);
    void SendByte(std::uint8_t nByte);
    void EndProbeWait();
    void OnTimerExpired(int nId);
    void StartLinkTimer(int nId, int nMilliseconds);
    void StopLinkTimer(int nId);

    ILinkWindow& m_window;
    IPortEngine& m_engine;
    LinkState& m_link;
    BuildState& m_build;
};

}  // namespace varnis
