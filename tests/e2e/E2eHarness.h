// End-to-end harness: the real serial engine, the device link and simulated
// devices over pseudo-terminals, driven by a plain window on an EventLoop.
//
//   E2eRig rig;                       // the loop, the ports, the window
//   rig.AddSilentPort(1);             // a line nobody answers on, behind COM1
//   SimDevice& dev = rig.AddDevice(3);// the simulated device behind COM3
//   rig.Link().OnOpenPort();
//   rig.RunUntil([&] { return rig.Window().m_bPortOpen; }, 5s);
//
// Everything the link does runs on the thread that calls RunUntil; the engine's
// monitoring thread hands each received byte over to it synchronously.
//
// Timers: on a port where something answers (a simulated device added with
// AddDevice, or the test itself after ConnectByHand) the link's probe and
// reply timers are held for the test instead of running on the loop, so a
// device that answers late on a busy machine is never taken for a silent
// one. The test fires a held timer when it means "the time is up"
// (Window().FireTimer). On every other port, and after HoldTimersOn(port,
// false), they run on the loop in real time: that is where the search's
// 100 ms steps and the reply time-out themselves are measured.
#pragma once

#include "config/ChoiceRules.h"
#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"
#include "serial/EventLoop.h"
#include "serial/OwnerThread.h"
#include "serial/PortTable.h"
#include "serial/SerialPort.h"
#include "sim/SimDevice.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace varnis::e2e {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

inline std::chrono::milliseconds MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from);
}

// The engine's error boxes, recorded (any thread).
class ErrorRecorder : public IErrorReporter {
public:
    void ReportError(std::string_view text, std::string_view caption, const CancelSignal&) override
    {
        const std::lock_guard lock(m_mutex);
        m_errors.push_back(std::string(caption) + ": " + std::string(text));
    }
    std::vector<std::string> Errors() const
    {
        const std::lock_guard lock(m_mutex);
        return m_errors;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_errors;
};

// What the link asked of the engine, with the time it asked.
struct EngineCall {
    enum class Kind : std::uint8_t { Initialise, StartMonitor, Send, Close };
    Kind m_eKind = Kind::Initialise;
    unsigned m_nPort = 0;  // the port the call concerned (Initialise: the one asked for)
    bool m_bResult = false;
    Bytes m_data;
    Clock::time_point m_at;
};

// The real engine behind a recorder. Used on the window's thread only.
class RecordingEngine : public IPortEngine {
public:
    RecordingEngine(SerialPort& port, ISerialOwner& owner) : m_inner(port, owner) {}

    bool Initialise(unsigned portnr, int baud, char parity, int databits, int stopbits, std::uint32_t eventMask,
                    int sendBufferSize) override
    {
        const bool bOk = m_inner.Initialise(portnr, baud, parity, databits, stopbits, eventMask, sendBufferSize);
        m_nCurrentPort = bOk ? portnr : 0;
        m_calls.push_back({EngineCall::Kind::Initialise, portnr, bOk, {}, Clock::now()});
        return bOk;
    }
    bool StartMonitor() override
    {
        const bool bOk = m_inner.StartMonitor();
        m_calls.push_back({EngineCall::Kind::StartMonitor, m_nCurrentPort, bOk, {}, Clock::now()});
        return bOk;
    }
    void Send(std::span<const std::uint8_t> data) override
    {
        m_calls.push_back(
            {EngineCall::Kind::Send, m_nCurrentPort, true, Bytes(data.begin(), data.end()), Clock::now()});
        m_inner.Send(data);
    }
    bool RequestCatchUp(std::uint32_t nTag) override { return m_inner.RequestCatchUp(nTag); }
    bool Close() override
    {
        const bool bOk = m_inner.Close();
        m_calls.push_back({EngineCall::Kind::Close, m_nCurrentPort, bOk, {}, Clock::now()});
        m_nCurrentPort = 0;
        return bOk;
    }

    std::vector<EngineCall> Calls(EngineCall::Kind eKind) const
    {
        std::vector<EngineCall> calls;
        for (const EngineCall& c : m_calls) {
            if (c.m_eKind == eKind) {
                calls.push_back(c);
            }
        }
        return calls;
    }
    std::vector<EngineCall> Sends() const { return Calls(EngineCall::Kind::Send); }
    // The ports that Initialise opened, in order.
    std::vector<unsigned> OpenedPorts() const
    {
        std::vector<unsigned> ports;
        for (const EngineCall& c : Calls(EngineCall::Kind::Initialise)) {
            if (c.m_bResult) {
                ports.push_back(c.m_nPort);
            }
        }
        return ports;
    }
    void ClearCalls() { m_calls.clear(); }
    // The port opened last, 0 after Close or a failed Initialise.
    unsigned CurrentPort() const { return m_nCurrentPort; }

    std::vector<EngineCall> m_calls;

private:
    SerialPortEngine m_inner;
    unsigned m_nCurrentPort = 0;
};

// A plain window for the link: its form is its CardSettings (the list
// selections are the settings' sector, block, start and end), its timers
// are the loop's, and its message boxes are recorded with their time.
class E2eWindow : public ILinkWindow {
public:
    struct TimedMessage {
        std::string m_strText;
        std::string m_strCaption;
        Clock::time_point m_at;
    };

    explicit E2eWindow(EventLoop& loop)
        : m_loop(loop),
          m_channel(loop, [this](const SerialNotification& n) { OnNotification(n); }),
          m_engine(m_port, m_channel),
          m_deviceLink(*this, m_engine, m_link, m_build)
    {
        m_port.SetErrorReporter(&m_errors);
    }
    ~E2eWindow() override
    {
        m_loop.StopTimer(kReplyTimerId);
        m_loop.StopTimer(kProbeTimerId);
    }
    E2eWindow(const E2eWindow&) = delete;
    E2eWindow& operator=(const E2eWindow&) = delete;

    void UsePortTable(const PortTable& table) { m_port.SetPortTable(table); }

    // IMessageSink / IBuildForm
    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        m_messages.push_back({std::string(text), std::string(caption), Clock::now()});
        if (m_onMessage) {
            m_onMessage(m_messages.back());
        }
    }
    bool IsPortOpen() const override { return m_bPortOpen; }
    void ReadFormTexts() override { ++m_nReadFormTexts; }
    const CardSettings& Settings() const override { return m_settings; }
    int SelectedSector() const override { return m_settings.m_nSector; }
    int SelectedBlock() const override { return m_settings.m_nBlock; }
    int SelectedStartAddress() const override { return m_settings.m_nStartAddress; }
    int SelectedEndAddress() const override { return m_settings.m_nEndAddress; }

    // ILinkWindow
    void SetPortOpen(bool bOpen) override { m_bPortOpen = bOpen; }
    void StartTimer(int nId, int nMilliseconds) override
    {
        StopTimer(nId);
        if (m_heldPorts.contains(m_engine.CurrentPort())) {
            m_heldTimers.insert(nId);
            return;
        }
        m_loop.StartTimer(nId, nMilliseconds, [this, nId] { m_deviceLink.OnLinkTimer(nId); });
    }
    void StopTimer(int nId) override
    {
        m_heldTimers.erase(nId);
        m_loop.StopTimer(nId);
    }
    void EnterConnectedState() override
    {
        m_bPortOpen = true;
        ApplyConnectionDefaults(m_settings, m_build.m_settingsBlock);
        m_connectedAt.push_back(Clock::now());
    }
    void EnterDisconnectedState() override { ++m_nDisconnected; }

    // Timers the link starts while COM`portnr` is open are held for the test
    // (see the top of this file); false lets them run on the loop again.
    void HoldTimersOn(unsigned portnr, bool bHold = true)
    {
        if (bHold) {
            m_heldPorts.insert(portnr);
        } else {
            m_heldPorts.erase(portnr);
        }
    }
    bool IsTimerHeld(int nId) const { return m_heldTimers.contains(nId); }
    // Running on the loop or held.
    bool IsTimerRunning(int nId) const { return IsTimerHeld(nId) || m_loop.IsTimerRunning(nId); }
    // Expires a held timer now, as the loop would have; false if it is not held.
    // Like a window timer it keeps running until the link stops it.
    bool FireTimer(int nId)
    {
        if (!IsTimerHeld(nId)) {
            return false;
        }
        m_deviceLink.OnLinkTimer(nId);
        return true;
    }

    DeviceLink& Link() { return m_deviceLink; }
    RecordingEngine& Engine() { return m_engine; }
    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const TimedMessage& m : m_messages) {
            texts.push_back(m.m_strText);
        }
        return texts;
    }

    EventLoop& m_loop;
    CardSettings m_settings;
    BuildState m_build;
    LinkState m_link;
    bool m_bPortOpen = false;
    int m_nReadFormTexts = 0;
    int m_nDisconnected = 0;
    std::size_t m_nBytesReceived = 0;
    int m_nLinesLost = 0;
    int m_nCaughtUp = 0;
    std::vector<TimedMessage> m_messages;
    std::vector<Clock::time_point> m_connectedAt;
    std::function<void(const TimedMessage&)> m_onMessage;
    ErrorRecorder m_errors;

private:
    void OnNotification(const SerialNotification& n)
    {
        if (n.m_nMessage == SPN_RXCHAR) {
            ++m_nBytesReceived;
            m_deviceLink.OnReceivedByte(n.m_nWParam, n.m_nLParam);
        } else if (n.m_nMessage == SPN_CAUGHT_UP) {
            ++m_nCaughtUp;
            m_deviceLink.OnCaughtUp(n.m_nWParam, n.m_nLParam);
        } else if (n.m_nMessage == SPN_LINE_LOST) {
            ++m_nLinesLost;
            m_deviceLink.OnLineLost(n.m_nLParam);
        }
    }

    std::set<unsigned> m_heldPorts;
    std::set<int> m_heldTimers;
    // The channel outlives the engine that notifies it.
    SerialOwnerChannel m_channel;
    SerialPort m_port;
    RecordingEngine m_engine;
    DeviceLink m_deviceLink;
};

// The loop, the pseudo-terminals behind the port numbers, the simulated
// devices and the window, torn down in the safe order (window first).
class E2eRig {
public:
    E2eRig() : m_pWindow(std::make_unique<E2eWindow>(m_loop)) { m_pWindow->UsePortTable(m_table); }
    ~E2eRig()
    {
        m_pWindow.reset();
        m_devices.clear();
        m_ptys.clear();
    }
    E2eRig(const E2eRig&) = delete;
    E2eRig& operator=(const E2eRig&) = delete;

    // A pseudo-terminal behind COM`portnr` that nobody answers on.
    PtyPair* AddSilentPort(unsigned portnr)
    {
        std::optional<PtyPair> pty = PtyPair::Open();
        if (!pty) {
            return nullptr;
        }
        m_table.SetPath(portnr, pty->SlavePath());
        m_pWindow->UsePortTable(m_table);
        auto [it, inserted] = m_ptys.insert_or_assign(portnr, std::make_unique<PtyPair>(std::move(*pty)));
        (void)inserted;
        return it->second.get();
    }

    // The simulated device behind COM`portnr`, started; the link's timers on
    // that port are held for the test.
    SimDevice* AddDevice(unsigned portnr, const SimBehaviour& behaviour = {})
    {
        PtyPair* pPty = AddSilentPort(portnr);
        if (pPty == nullptr) {
            return nullptr;
        }
        m_pWindow->HoldTimersOn(portnr);
        auto pDevice = std::make_unique<SimDevice>(pPty->MasterFd(), behaviour);
        if (!pDevice->Start()) {
            return nullptr;
        }
        SimDevice* pRaw = pDevice.get();
        m_devices[portnr] = std::move(pDevice);
        return pRaw;
    }

    E2eWindow& Window() { return *m_pWindow; }
    DeviceLink& Link() { return m_pWindow->Link(); }
    EventLoop& Loop() { return m_loop; }
    PtyPair* Pty(unsigned portnr) { return m_ptys.contains(portnr) ? m_ptys.at(portnr).get() : nullptr; }

    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
    {
        return m_loop.RunUntil(done, limit);
    }

    // Connects through a search (the device must answer a probe); true once connected.
    bool Connect(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        const std::size_t nBefore = m_pWindow->m_connectedAt.size();
        Link().OnOpenPort();
        return RunUntil([&] { return m_pWindow->m_connectedAt.size() > nBefore; }, limit);
    }

    // Writes bytes into the line behind COM`portnr`, as a device would.
    bool WriteLine(unsigned portnr, std::span<const std::uint8_t> bytes)
    {
        PtyPair* pPty = Pty(portnr);
        if (pPty == nullptr) {
            return false;
        }
        while (!bytes.empty()) {
            const ssize_t n = ::write(pPty->MasterFd(), bytes.data(), bytes.size());
            if (n > 0) {
                bytes = bytes.subspan(static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                return false;
            }
        }
        return true;
    }

    // Plays the device on COM`portnr` by hand: starts a search, answers its
    // probe with ACK and waits for the connection. True once connected. The
    // link's timers on that port are held for the test from now on.
    bool ConnectByHand(unsigned portnr, std::chrono::milliseconds limit)
    {
        m_pWindow->HoldTimersOn(portnr);
        Link().OnOpenPort();
        if (ReadLine(portnr, 1, limit) != Bytes{kStx}) {
            return false;
        }
        const std::array<std::uint8_t, 1> ack{kAck};
        return WriteLine(portnr, ack) && RunUntil([this] { return m_pWindow->m_bPortOpen; }, limit);
    }

    // Reads what the system wrote on COM`portnr` until `nCount` bytes have
    // come or `limit` has passed. Needs no loop: the engine writes on its own thread.
    Bytes ReadLine(unsigned portnr, std::size_t nCount, std::chrono::milliseconds limit)
    {
        Bytes bytes;
        PtyPair* pPty = Pty(portnr);
        if (pPty == nullptr) {
            return bytes;
        }
        const auto deadline = Clock::now() + limit;
        while (bytes.size() < nCount) {
            const auto left = MsBetween(Clock::now(), deadline).count();
            if (left <= 0) {
                break;
            }
            pollfd pfd{pPty->MasterFd(), POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
                continue;
            }
            std::array<std::uint8_t, 64> buf{};
            const std::size_t nWant = std::min(buf.size(), nCount - bytes.size());
            const ssize_t n = ::read(pPty->MasterFd(), buf.data(), nWant);
            if (n > 0) {
                bytes.insert(bytes.end(), buf.begin(), buf.begin() + n);
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                break;
            }
        }
        return bytes;
    }

private:
    EventLoop m_loop;
    PortTable m_table;
    std::map<unsigned, std::unique_ptr<PtyPair>> m_ptys;
    std::map<unsigned, std::unique_ptr<SimDevice>> m_devices;
    std::unique_ptr<E2eWindow> m_pWindow;
};

}  // namespace varnis::e2e
