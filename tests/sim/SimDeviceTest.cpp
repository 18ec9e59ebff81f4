#include "sim/SimDevice.h"
#include "sim/SimTestLine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace varnis {
namespace {

using namespace std::chrono_literals;
using simtest::TestLine;
using Bytes = std::vector<std::uint8_t>;

// Where the test itself answers the device's announcement, the device waits
// long for it: the test's thread may wait for a core before it writes the ACK.
constexpr int kPatientAckWaitMs = 10000;

Bytes ToBytes(std::span<const std::uint8_t> bytes)
{
    return Bytes(bytes.begin(), bytes.end());
}

// A pseudo-terminal, a device serving its master and the system's end opened raw.
class SimDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto opened = PtyPair::Open();
        ASSERT_TRUE(opened.has_value());
        m_pty = std::move(*opened);
        m_pLine = std::make_unique<TestLine>(m_pty->SlavePath());
        ASSERT_TRUE(m_pLine->IsOpen());
    }

    void StartDevice(SimBehaviour behaviour)
    {
        m_pDevice = std::make_unique<SimDevice>(m_pty->MasterFd(), behaviour);
        m_pDevice->SetHangUpHandler([this] { m_pty->CloseMaster(); });
        ASSERT_TRUE(m_pDevice->Start());
    }

    // STX -> ACK, then the frame; true when the device acknowledged.
    bool OpenAndSend(std::span<const std::uint8_t> frame)
    {
        if (!m_pLine->WriteByte(kStx) || m_pLine->Read(1, 3s) != Bytes{kAck}) {
            return false;
        }
        return m_pLine->Write(frame);
    }

    std::optional<PtyPair> m_pty;
    std::unique_ptr<TestLine> m_pLine;
    std::unique_ptr<SimDevice> m_pDevice;  // declared last: stops before the line goes
};

TEST(PtyPairTest, KeptSlaveNeitherStealsBytesNorBlocksExclusiveOpenAndMasterCloseHangsUp)
{
    auto pty = PtyPair::Open();
    ASSERT_TRUE(pty.has_value());
    pollfd master{pty->MasterFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&master, 1, 0), 0) << "the master must not see a hang-up before the slave is opened";

    // The engine's way of opening a port.
    TestLine line(pty->SlavePath());
    ASSERT_TRUE(line.IsOpen());
    EXPECT_EQ(::ioctl(line.Fd(), TIOCEXCL), 0);
    EXPECT_EQ(::flock(line.Fd(), LOCK_EX | LOCK_NB), 0);
    UniqueFd second(::open(pty->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (second.IsOpen()) {  // root passes TIOCEXCL; the lock still holds
        EXPECT_NE(::flock(second.Get(), LOCK_EX | LOCK_NB), 0);
    }
    second.Reset();

    // Every byte from the far end, raw (no translation of CR, no echo), reaches the engine.
    Bytes sent(200);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_EQ(::write(pty->MasterFd(), sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    EXPECT_EQ(line.Read(sent.size(), 3s), sent);
    const std::array<std::uint8_t, 3> up{0x0D, 0x0A, 0x03};
    ASSERT_TRUE(line.Write(up));
    std::array<std::uint8_t, 8> echoed{};
    pollfd pfd{pty->MasterFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 3000), 1);
    ::usleep(50000);
    EXPECT_EQ(::read(pty->MasterFd(), echoed.data(), echoed.size()), 3);
    EXPECT_EQ(std::vector(echoed.begin(), echoed.begin() + 3), ToBytes(up));
    EXPECT_TRUE(line.StaysQuiet(100ms)) << "nothing may be echoed back";

    pty->CloseMaster();
    EXPECT_TRUE(line.SeesHangUp(3s));
}

TEST_F(SimDeviceTest, ProbesAreAnsweredWithAck)
{
    StartDevice({});
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(m_pLine->WriteByte(kStx));
        EXPECT_EQ(m_pLine->Read(1, 3s), Bytes{kAck});
    }
    EXPECT_TRUE(m_pLine->StaysQuiet(150ms));
    EXPECT_EQ(m_pDevice->ProbesAnswered(), 3u);
    EXPECT_EQ(m_pDevice->ExchangeCount(), 0u);
}

TEST_F(SimDeviceTest, SuccessExchangeWaitsForTheSystemsAckAndRecordsTheDecodedFrame)
{
    SimBehaviour behaviour;
    behaviour.m_nCardWriteMs = 300;
    behaviour.m_nAckWaitMs = kPatientAckWaitMs;
    StartDevice(behaviour);
    const ConfigurationFrame frame = simtest::DefaultConfigurationFrame();
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(OpenAndSend(frame));
    EXPECT_EQ(m_pLine->Read(1, 5s), Bytes{kStx});
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 300ms) << "the card takes its writing time";
    EXPECT_TRUE(m_pLine->StaysQuiet(200ms)) << "no reply before the system's ACK";
    ASSERT_TRUE(m_pLine->WriteByte(kAck));
    EXPECT_EQ(m_pLine->Read(5, 3s), (Bytes{0xAA, 0x00, 0x00, 0xAA, 0x03}));
    EXPECT_TRUE(m_pLine->StaysQuiet(100ms));

    const auto exchanges = m_pDevice->Exchanges();
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(exchanges[0].m_frame, ToBytes(frame));
    EXPECT_TRUE(exchanges[0].m_bValid) << exchanges[0].m_strDescription;
    EXPECT_FALSE(exchanges[0].m_strDescription.empty());
    EXPECT_EQ(exchanges[0].m_nReplyStatus, 0x00);
    EXPECT_TRUE(exchanges[0].m_bReplySent);

    // Idle again: the next probe is answered.
    ASSERT_TRUE(m_pLine->WriteByte(kStx));
    EXPECT_EQ(m_pLine->Read(1, 3s), Bytes{kAck});
}

TEST_F(SimDeviceTest, FailureStatusAndRefusedFramesGetFailureReplies)
{
    SimBehaviour behaviour;
    behaviour.m_nResultStatus = 0x37;
    behaviour.m_nFrameByteTimeoutMs = 200;
    behaviour.m_nAckWaitMs = kPatientAckWaitMs;
    StartDevice(behaviour);

    // A good frame, the card "fails".
    ASSERT_TRUE(OpenAndSend(simtest::DefaultConfigurationFrame()));
    ASSERT_EQ(m_pLine->Read(1, 3s), Bytes{kStx});
    ASSERT_TRUE(m_pLine->WriteByte(kAck));
    EXPECT_EQ(m_pLine->Read(5, 3s), (Bytes{0xAA, 0x37, 0x00, 0xAA ^ 0x37, 0x03}));

    // A frame with a wrong check byte is refused.
    ConfigurationFrame bad = simtest::DefaultConfigurationFrame();
    bad[24] ^= 0x01;
    ASSERT_TRUE(OpenAndSend(bad));
    ASSERT_EQ(m_pLine->Read(1, 3s), Bytes{kStx});
    ASSERT_TRUE(m_pLine->WriteByte(kAck));
    EXPECT_EQ(m_pLine->Read(5, 3s), ToBytes(SimReplyFrame(kSimStatusFrameRefused)));

    // A frame that stops halfway is refused once the line has been quiet.
    const ConfigurationFrame good = simtest::DefaultConfigurationFrame();
    ASSERT_TRUE(OpenAndSend(std::span(good).first(10)));
    ASSERT_EQ(m_pLine->Read(1, 3s), Bytes{kStx});
    ASSERT_TRUE(m_pLine->WriteByte(kAck));
    EXPECT_EQ(m_pLine->Read(5, 3s), ToBytes(SimReplyFrame(kSimStatusFrameRefused)));

    const auto exchanges = m_pDevice->Exchanges();
    ASSERT_EQ(exchanges.size(), 3u);
    EXPECT_TRUE(exchanges[0].m_bValid);
    EXPECT_EQ(exchanges[0].m_nReplyStatus, 0x37);
    EXPECT_FALSE(exchanges[1].m_bValid);
    EXPECT_EQ(exchanges[1].m_frame, ToBytes(bad));
    EXPECT_EQ(exchanges[1].m_nReplyStatus, kSimStatusFrameRefused);
    EXPECT_FALSE(exchanges[2].m_bValid);
    EXPECT_EQ(exchanges[2].m_frame.size(), 10u);
}

TEST_F(SimDeviceTest, AFrameSentByteByByteWithinTheGapLimitIsTaken)
{
    SimBehaviour behaviour;
    // 10 ms gaps against a limit far above them: the test's own thread may
    // wait for a core between two bytes.
    behaviour.m_nFrameByteTimeoutMs = 5000;
    StartDevice(behaviour);
    ASSERT_TRUE(m_pLine->WriteByte(kStx));
    ASSERT_EQ(m_pLine->Read(1, 3s), Bytes{kAck});
    for (const std::uint8_t b : simtest::DefaultConfigurationFrame()) {
        ASSERT_TRUE(m_pLine->WriteByte(b));
        ::usleep(10000);
    }
    ASSERT_EQ(m_pLine->Read(1, 3s), Bytes{kStx});
    ASSERT_TRUE(m_pDevice->WaitForExchanges(1, 1s));
    EXPECT_TRUE(m_pDevice->Exchanges()[0].m_bValid);
}

TEST_F(SimDeviceTest, SilentDeviceAnswersNothing)
{
    SimBehaviour behaviour;
    behaviour.m_eFault = SimFault::Silent;
    StartDevice(behaviour);
    ASSERT_TRUE(m_pLine->WriteByte(kStx));
    EXPECT_TRUE(m_pLine->StaysQuiet(400ms));
    ASSERT_TRUE(m_pLine->Write(simtest::DefaultConfigurationFrame()));
    EXPECT_TRUE(m_pLine->StaysQuiet(400ms));
    EXPECT_EQ(m_pDevice->ProbesAnswered(), 0u);
    EXPECT_EQ(m_pDevice->ExchangeCount(), 0u);
}

TEST_F(SimDeviceTest, LateAckComesAfterItsDelay)
{
    SimBehaviour behaviour;
    behaviour.m_eFault = SimFault::AckTooLate;
    behaviour.m_nLateAckMs = 600;
    StartDevice(behaviour);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_pLine->WriteByte(kStx));
    EXPECT_EQ(m_pLine->Read(1, 5s), Bytes{kAck});
    // Not a moment before its delay (a quiet-for-300-ms check here would
    // race the device's 600 ms on a busy machine).
    const auto elapsed = std::chrono::steady_clock::now() - sent;
    EXPECT_GE(elapsed, 600ms);
    EXPECT_LT(elapsed, 4s);
}

TEST_F(SimDeviceTest, NeverAnnouncingDeviceTakesTheFrameAndStaysIdle)
{
    SimBehaviour behaviour;
    behaviour.m_eFault = SimFault::NeverAnnounces;
    StartDevice(behaviour);
    ASSERT_TRUE(OpenAndSend(simtest::DefaultConfigurationFrame()));
    ASSERT_TRUE(m_pDevice->WaitForExchanges(1, 3s));
    EXPECT_TRUE(m_pLine->StaysQuiet(500ms));
    const auto exchanges = m_pDevice->Exchanges();
    EXPECT_TRUE(exchanges[0].m_bValid);
    EXPECT_FALSE(exchanges[0].m_bAnnounced);
    ASSERT_TRUE(m_pLine->WriteByte(kStx));
    EXPECT_EQ(m_pLine->Read(1, 3s), Bytes{kAck});
}

TEST_F(SimDeviceTest, BadCheckReplyCarriesAWrongCheckByte)
{
    SimBehaviour behaviour;
    behaviour.m_eFault = SimFault::BadReplyCheck;
    behaviour.m_nAckWaitMs = kPatientAckWaitMs;
    StartDevice(behaviour);
    ASSERT_TRUE(OpenAndSend(simtest::DefaultConfigurationFrame()));
    ASSERT_EQ(m_pLine->Read(1, 3s), Bytes{kStx});
    ASSERT_TRUE(m_pLine->WriteByte(kAck));
    const Bytes reply = m_pLine->Read(5, 3s);
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_EQ(reply[0], 0xAA);
    EXPECT_EQ(reply[1], 0x00);
    EXPECT_NE(reply[3], 0xAA);
    EXPECT_EQ(reply[4], 0x03);
}

// The system's reading of a reply: skip to STX (answering it), skip to 0xAA,
// then status, length, check and end byte.
struct ReplyReader {
    int m_nState = 1;
    int m_nAcksSent = 0;
    bool m_bStatusOk = false;
    bool m_bCheckOk = false;
    bool m_bDone = false;
    bool m_bSuccess = false;
    void Feed(std::uint8_t b)
    {
        switch (m_nState) {
        case 1:
            if (b == kStx) {
                ++m_nAcksSent;
                m_nState = 2;
            }
            break;
        case 2:
            if (b == kFrameStart) {
                m_nState = 3;
            }
            break;
        case 3:
            m_bStatusOk = b == 0x00;
            m_nState = 4;
            break;
        case 4: m_nState = 5; break;
        case 5:
            m_bCheckOk = b == 0xAA;
            m_nState = 6;
            break;
        case 6:
            m_bDone = true;
            m_bSuccess = b == kFrameEnd && m_bStatusOk && m_bCheckOk;
            m_nState = 0;
            break;
        default: break;
        }
    }
};

TEST_F(SimDeviceTest, NoiseIsSkippedByTheSystemsReplyReading)
{
    SimBehaviour behaviour;
    behaviour.m_eFault = SimFault::Noise;
    behaviour.m_nAckWaitMs = kPatientAckWaitMs;
    StartDevice(behaviour);
    ASSERT_TRUE(OpenAndSend(simtest::DefaultConfigurationFrame()));
    ReplyReader reader;
    Bytes received = m_pLine->Read(kSimNoiseBeforeStx.size() + 1, 3s);
    ASSERT_EQ(received.size(), kSimNoiseBeforeStx.size() + 1);
    for (std::size_t i = 0; i + 1 < received.size(); ++i) {
        reader.Feed(received[i]);
        ASSERT_EQ(reader.m_nState, 1) << "noise byte " << i << " taken for the announcement";
    }
    reader.Feed(received.back());
    ASSERT_EQ(reader.m_nState, 2) << "the announcement comes after the noise";
    EXPECT_EQ(Bytes(received.begin(), received.end() - 1), ToBytes(kSimNoiseBeforeStx));
    EXPECT_EQ(std::count(received.begin(), received.end() - 1, kAck), 0);
    ASSERT_TRUE(m_pLine->WriteByte(kAck));
    const Bytes rest = m_pLine->Read(kSimNoiseBeforeReply.size() + 5, 3s);
    ASSERT_EQ(rest.size(), kSimNoiseBeforeReply.size() + 5);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        reader.Feed(rest[i]);
        if (i < kSimNoiseBeforeReply.size()) {
            ASSERT_EQ(reader.m_nState, 2) << "noise byte " << i << " taken for the start byte";
        }
    }
    EXPECT_TRUE(reader.m_bDone);
    EXPECT_TRUE(reader.m_bSuccess);
    EXPECT_EQ(reader.m_nAcksSent, 1);
    ASSERT_GE(rest.size(), 5u);
    EXPECT_EQ(Bytes(rest.end() - 5, rest.end()), (Bytes{0xAA, 0x00, 0x00, 0xAA, 0x03}));
}

TEST_F(SimDeviceTest, HangUpMidExchangeClosesTheLine)
{
    SimBehaviour behaviour;
    behaviour.m_eFault = SimFault::HangUpMidExchange;
    const auto pLost = std::make_shared<std::atomic<int>>(0);
    StartDevice(behaviour);
    m_pDevice->SetLineLostHandler([pLost] { ++*pLost; });
    ASSERT_TRUE(OpenAndSend(simtest::DefaultConfigurationFrame()));
    EXPECT_TRUE(m_pLine->SeesHangUp(3s));
    ASSERT_TRUE(m_pDevice->WaitForExchanges(1, 3s));
    for (int i = 0; i < 300 && pLost->load() == 0; ++i) {
        ::usleep(10000);
    }
    EXPECT_EQ(pLost->load(), 1);
    EXPECT_TRUE(m_pDevice->LineLost());
    EXPECT_FALSE(m_pDevice->Exchanges()[0].m_bAnnounced);
}

TEST_F(SimDeviceTest, WithoutTheSystemsAckTheDeviceGivesUpAndIsIdleAgain)
{
    SimBehaviour behaviour;
    behaviour.m_nAckWaitMs = 300;
    StartDevice(behaviour);
    // Shared with the logger, which may outlive this body's locals.
    struct GaveUp {
        std::mutex m_mutex;
        std::condition_variable m_cv;
        bool m_bSeen = false;
    };
    const auto pGaveUp = std::make_shared<GaveUp>();
    m_pDevice->SetLogger([pGaveUp](std::string_view line) {
        const std::lock_guard lock(pGaveUp->m_mutex);
        pGaveUp->m_bSeen = pGaveUp->m_bSeen || line.find("no ACK within 300 ms") != std::string_view::npos;
        pGaveUp->m_cv.notify_all();
    });
    const auto announced = std::chrono::steady_clock::now();
    ASSERT_TRUE(OpenAndSend(simtest::DefaultConfigurationFrame()));
    ASSERT_EQ(m_pLine->Read(1, 3s), Bytes{kStx});
    {
        std::unique_lock lock(pGaveUp->m_mutex);
        ASSERT_TRUE(pGaveUp->m_cv.wait_for(lock, 10s, [&] { return pGaveUp->m_bSeen; }));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - announced, 300ms);
    EXPECT_TRUE(m_pLine->StaysQuiet(100ms));
    // A late ACK is an idle byte now: no reply follows it.
    ASSERT_TRUE(m_pLine->WriteByte(kAck));
    EXPECT_TRUE(m_pLine->StaysQuiet(300ms));
    ASSERT_TRUE(m_pLine->WriteByte(kStx));
    EXPECT_EQ(m_pLine->Read(1, 3s), Bytes{kAck});
    const auto exchanges = m_pDevice->Exchanges();
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_TRUE(exchanges[0].m_bAnnounced);
    EXPECT_FALSE(exchanges[0].m_bReplySent);
}

TEST_F(SimDeviceTest, StopIsPromptWhileWaitingForAckOrWritingTheCard)
{
    for (const bool bWriting : {false, true}) {
        SimBehaviour behaviour;
        behaviour.m_nAckWaitMs = 60000;
        behaviour.m_nCardWriteMs = bWriting ? 60000 : 0;
        StartDevice(behaviour);
        ASSERT_TRUE(OpenAndSend(simtest::DefaultConfigurationFrame()));
        ASSERT_TRUE(m_pDevice->WaitForExchanges(1, 3s));
        if (!bWriting) {
            ASSERT_EQ(m_pLine->Read(1, 3s), Bytes{kStx});
        }
        const auto asked = std::chrono::steady_clock::now();
        m_pDevice->Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s) << (bWriting ? "writing" : "waiting for ACK");
        m_pDevice->Stop();  // a second stop is harmless
        m_pDevice.reset();
    }
}

}  // namespace
}  // namespace varnis
