// A running engine on a pseudo-terminal behind COM3, its owner an event loop
// on the test's thread.
#pragma once

#include "serial/SerialPort.h"
#include "serial/OwnerThread.h"
#include "serial/SerialTestSupport.h"

#include <gtest/gtest.h>

namespace varnis::test {

inline constexpr unsigned kPort = 3;
inline constexpr std::uint32_t kSystemMask = EV_RXCHAR | EV_RXFLAG;

class SerialEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.IsOpen());
        m_table.SetPath(kPort, m_pty.SlavePath());
    }

    bool Open(std::uint32_t eventMask = kSystemMask, int sendBufferSize = 512)
    {
        m_port.SetPortTable(m_table);
        m_port.SetErrorReporter(&m_reporter);
        return m_port.Initialise(&m_owner, kPort, 9600, 'N', 8, 1, eventMask, sendBufferSize);
    }
    bool OpenAndStart(std::uint32_t eventMask = kSystemMask, int sendBufferSize = 512)
    {
        return Open(eventMask, sendBufferSize) && m_port.StartMonitor();
    }
    bool WaitForNotifications(std::size_t nCount, std::chrono::milliseconds limit = 5000ms)
    {
        return m_loop.RunUntil([&] { return m_seen.size() >= nCount; }, limit);
    }
    std::vector<std::uint32_t> ReceivedBytes() const
    {
        std::vector<std::uint32_t> bytes;
        for (const SerialNotification& n : m_seen) {
            if (n.m_nMessage == SPN_RXCHAR) {
                bytes.push_back(n.m_nWParam);
            }
        }
        return bytes;
    }

    PtyPair m_pty;
    PortTable m_table;
    EventLoop m_loop;
    std::vector<SerialNotification> m_seen;
    std::function<void(const SerialNotification&)> m_onNotification;
    SerialOwnerChannel m_owner{m_loop, [this](const SerialNotification& n) {
                                   m_seen.push_back(n);
                                   if (m_onNotification) {
                                       m_onNotification(n);
                                   }
                               }};
    RecordingReporter m_reporter;
    TraceRecorder m_traces;
    SerialPort m_port;  // last: destroyed first, before its owner
};

}  // namespace varnis::test
