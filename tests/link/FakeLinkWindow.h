// Recording fakes of the window and the engine for the link's unit tests:
// no port, no thread, timers fired by hand.
#pragma once

#include "link/DeviceLink.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace varnis::test {

// One entry per thing the link did, in order, so tests can check sequences.
struct Journal {
    std::vector<std::string> m_entries;
    void Add(std::string entry) { m_entries.push_back(std::move(entry)); }
};

class FakeLinkWindow : public ILinkWindow {
public:
    explicit FakeLinkWindow(Journal& journal) : m_journal(journal) {}

    struct Message {
        std::string m_strText;
        std::string m_strCaption;
    };

    // IMessageSink / IBuildForm
    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        m_messages.push_back({std::string(text), std::string(caption)});
        m_journal.Add("msg " + std::string(text));
        if (m_onMessage) {
            m_onMessage(m_messages.back().m_strText);  // handlers run inside the box
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
    void SetPortOpen(bool bOpen) override
    {
        m_bPortOpen = bOpen;
        m_journal.Add(bOpen ? "port-open 1" : "port-open 0");
    }
    void StartTimer(int nId, int nMilliseconds) override
    {
        m_timers[nId] = nMilliseconds;
        ++m_timerStarts[nId];
        m_journal.Add("start-timer " + std::to_string(nId) + " " + std::to_string(nMilliseconds));
    }
    void StopTimer(int nId) override
    {
        m_timers.erase(nId);
        m_journal.Add("stop-timer " + std::to_string(nId));
    }
    void EnterConnectedState() override
    {
        m_bPortOpen = true;
        ++m_nConnected;
        m_journal.Add("connected");
    }
    void EnterDisconnectedState() override
    {
        ++m_nDisconnected;
        m_journal.Add("disconnected");
    }

    bool IsTimerRunning(int nId) const { return m_timers.contains(nId); }
    int TimerPeriod(int nId) const { return m_timers.contains(nId) ? m_timers.at(nId) : -1; }
    int TimerStarts(int nId) const { return m_timerStarts.contains(nId) ? m_timerStarts.at(nId) : 0; }

    Journal& m_journal;
    CardSettings m_settings;
    bool m_bPortOpen = false;
    int m_nReadFormTexts = 0;
    int m_nConnected = 0;
    int m_nDisconnected = 0;
    std::vector<Message> m_messages;
    std::map<int, int> m_timers;
    std::map<int, int> m_timerStarts;
    std::function<void(const std::string&)> m_onMessage;
};

class FakePortEngine : public IPortEngine {
public:
    explicit FakePortEngine(Journal& journal) : m_journal(journal) {}

    struct InitCall {
        unsigned m_nPort = 0;
        int m_nBaud = 0;
        char m_cParity = 0;
        int m_nDataBits = 0;
        int m_nStopBits = 0;
        std::uint32_t m_dwEventMask = 0;
        int m_nSendBufferSize = 0;
        bool m_bResult = false;
    };

    bool Initialise(unsigned portnr, int baud, char parity, int databits, int stopbits, std::uint32_t eventMask,
                    int sendBufferSize) override
    {
        const bool bOk = m_openable.contains(portnr);
        m_inits.push_back({portnr, baud, parity, databits, stopbits, eventMask, sendBufferSize, bOk});
        // Like the real engine: the previous port is closed even when the new one fails.
        m_nOpenPort = bOk ? portnr : 0;
        m_journal.Add("init " + std::to_string(portnr) + (bOk ? " ok" : " fail"));
        if (bOk && m_onOpened) {
            m_onOpened(portnr);  // as the engine's error box would: handlers run inside it
        }
        return bOk;
    }
    bool StartMonitor() override
    {
        ++m_nStartMonitor;
        m_journal.Add("monitor");
        return true;
    }
    void Send(std::span<const std::uint8_t> data) override
    {
        m_sends.emplace_back(data.begin(), data.end());
        std::string entry = "send";
        for (const std::uint8_t b : data) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            entry += ' ';
            entry += kHex[b >> 4];
            entry += kHex[b & 0x0F];
        }
        m_journal.Add(entry);
    }
    bool Close() override
    {
        ++m_nClose;
        m_nOpenPort = 0;
        m_journal.Add("close");
        return true;
    }

    // With m_bCatchUp the engine takes catch-up requests (answered by the
    // test through DeviceLink::OnCaughtUp); otherwise it has no thread.
    bool RequestCatchUp(std::uint32_t nTag) override
    {
        if (m_bCatchUp && m_nOpenPort != 0) {
            m_journal.Add("catch up " + std::to_string(nTag));
        }
        return m_bCatchUp && m_nOpenPort != 0;
    }

    std::vector<unsigned> InitPorts() const
    {
        std::vector<unsigned> ports;
        for (const InitCall& c : m_inits) {
            ports.push_back(c.m_nPort);
        }
        return ports;
    }

    Journal& m_journal;
    std::set<unsigned> m_openable;
    std::vector<InitCall> m_inits;
    std::vector<std::vector<std::uint8_t>> m_sends;
    unsigned m_nOpenPort = 0;
    std::function<void(unsigned)> m_onOpened;
    int m_nStartMonitor = 0;
    int m_nClose = 0;
    bool m_bCatchUp = false;
};

}  // namespace varnis::test
