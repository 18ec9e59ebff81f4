// The search, the "Make Provin" exchange and closing, with the real engine
// over pseudo-terminals and the simulated device (or the test itself) on the
// far side.
#include "e2e/E2eHarness.h"

#include "config/ChoiceRules.h"
#include "config/FrameDecoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace varnis::e2e {
namespace {

using namespace std::chrono_literals;

// Timers never fire early; clocks are read a little apart, so allow 1 ms.
constexpr auto kProbeFloor = std::chrono::milliseconds(kProbeTimerMs - 1);
constexpr auto kReplyFloor = std::chrono::milliseconds(kReplyTimerMs - 1);
// Upper bounds only catch a wait that went badly wrong: the machine is shared.
constexpr auto kLooseLimit = 3000ms;
// How long to wait for something that is bound to come (a byte on the line).
constexpr auto kWait = 10s;

Bytes Probe()
{
    return {kStx};
}

std::vector<unsigned> PortsOf(const std::vector<EngineCall>& calls)
{
    std::vector<unsigned> ports;
    for (const EngineCall& c : calls) {
        ports.push_back(c.m_nPort);
    }
    return ports;
}

Bytes FrameOf(const BuildState& build)
{
    const ConfigurationFrame frame = AssembleConfigurationFrame(build);
    return {frame.begin(), frame.end()};
}

TEST(LinkE2e, DeviceBehindTwoSilentPortsIsFoundOnCom3AndTheNextSearchStartsAtCom1)
{
    E2eRig rig;
    ASSERT_NE(rig.AddSilentPort(1), nullptr);
    ASSERT_NE(rig.AddSilentPort(2), nullptr);
    SimDevice* pDevice = rig.AddDevice(3);
    ASSERT_NE(pDevice, nullptr);
    E2eWindow& window = rig.Window();

    // Dirty the form first: the connection must put the defaults back.
    window.m_settings.m_strKey = "xyz";
    window.m_settings.m_eInterface = InterfaceKind::Aba;
    ASSERT_TRUE(rig.Connect());

    const std::vector<EngineCall> sends = window.Engine().Sends();
    ASSERT_EQ(sends.size(), 3U);
    EXPECT_EQ(PortsOf(sends), (std::vector<unsigned>{1, 2, 3}));
    for (const EngineCall& s : sends) {
        EXPECT_EQ(s.m_data, Probe());
    }
    EXPECT_GE(MsBetween(sends[0].m_at, sends[1].m_at), kProbeFloor);
    EXPECT_GE(MsBetween(sends[1].m_at, sends[2].m_at), kProbeFloor);
    EXPECT_LT(MsBetween(sends[0].m_at, sends[2].m_at), kLooseLimit);
    // The probes really went out on the silent lines.
    EXPECT_EQ(rig.ReadLine(1, 1, kWait), Probe());
    EXPECT_EQ(rig.ReadLine(2, 1, kWait), Probe());
    EXPECT_EQ(pDevice->ProbesAnswered(), 1U);

    EXPECT_TRUE(window.m_bPortOpen);
    EXPECT_TRUE(window.m_messages.empty());
    EXPECT_EQ(window.m_link.m_nNextPortToProbe, 1);
    EXPECT_FALSE(window.m_link.m_bProbeOutstanding);
    EXPECT_FALSE(window.IsTimerRunning(kProbeTimerId));
    EXPECT_EQ(window.m_settings.m_strKey, kDefaultKeyText);
    EXPECT_EQ(window.m_settings.m_eInterface, InterfaceKind::Wiegand);
    EXPECT_EQ(window.m_build.m_settingsBlock[0], 0x01);
    EXPECT_EQ(window.m_build.m_settingsBlock[1], 0x02);
    EXPECT_EQ(window.m_build.m_settingsBlock[15], 0xAA);
    EXPECT_TRUE(window.m_errors.Errors().empty());

    rig.Link().OnClosePort();
    EXPECT_FALSE(window.m_bPortOpen);
    EXPECT_EQ(window.m_nDisconnected, 1);

    window.Engine().ClearCalls();
    ASSERT_TRUE(rig.Connect());
    EXPECT_EQ(window.Engine().OpenedPorts(), (std::vector<unsigned>{1, 2, 3}));
    EXPECT_EQ(pDevice->ProbesAnswered(), 2U);
    EXPECT_TRUE(window.m_messages.empty());
}

TEST(LinkE2e, DeviceOnCom10IsFoundAfterNineSilentPorts)
{
    E2eRig rig;
    for (unsigned port = 1; port <= 9; ++port) {
        ASSERT_NE(rig.AddSilentPort(port), nullptr);
    }
    ASSERT_NE(rig.AddDevice(10), nullptr);
    E2eWindow& window = rig.Window();

    ASSERT_TRUE(rig.Connect(20s));
    const std::vector<EngineCall> sends = window.Engine().Sends();
    ASSERT_EQ(sends.size(), 10U);
    EXPECT_EQ(PortsOf(sends), (std::vector<unsigned>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_GE(MsBetween(sends.front().m_at, sends.back().m_at), 9 * kProbeFloor);
    // The device's answer ended the search: its probe's wait was stopped.
    EXPECT_FALSE(window.IsTimerRunning(kProbeTimerId));
    EXPECT_EQ(window.m_link.m_nNextPortToProbe, 1);
    EXPECT_TRUE(window.m_bPortOpen);
    EXPECT_TRUE(window.m_messages.empty());
}

TEST(LinkE2e, NoPortAtAllReportsAtOnceAndSendsNothing)
{
    E2eRig rig;
    E2eWindow& window = rig.Window();
    const auto t0 = Clock::now();
    rig.Link().OnOpenPort();
    // Shown inside the call, before any event has been served.
    ASSERT_EQ(window.MessageTexts(), std::vector<std::string>{"Provin Generator Device not found."});
    EXPECT_EQ(window.m_messages[0].m_strCaption, "Warning");
    EXPECT_LT(MsBetween(t0, window.m_messages[0].m_at), kLooseLimit);
    EXPECT_EQ(window.Engine().Calls(EngineCall::Kind::Initialise).size(), 10U);
    EXPECT_TRUE(window.Engine().OpenedPorts().empty());
    EXPECT_TRUE(window.Engine().Sends().empty());
    EXPECT_EQ(window.m_link.m_nNextPortToProbe, 1);
    EXPECT_FALSE(window.IsTimerRunning(kProbeTimerId));
    EXPECT_FALSE(window.m_bPortOpen);
    EXPECT_TRUE(window.m_errors.Errors().empty());
}

TEST(LinkE2e, SilentCom10IsReportedAfterTheProbeWaitAndStaysOpenAndMonitored)
{
    E2eRig rig;
    ASSERT_NE(rig.AddSilentPort(10), nullptr);
    E2eWindow& window = rig.Window();

    rig.Link().OnOpenPort();
    EXPECT_TRUE(window.m_messages.empty());
    ASSERT_TRUE(rig.RunUntil([&] { return !window.m_messages.empty(); }, 5s));
    const std::vector<EngineCall> sends = window.Engine().Sends();
    ASSERT_EQ(sends.size(), 1U);
    EXPECT_EQ(sends[0].m_nPort, 10U);
    const auto wait = MsBetween(sends[0].m_at, window.m_messages[0].m_at);
    EXPECT_GE(wait, kProbeFloor);
    EXPECT_LT(wait, kLooseLimit);
    EXPECT_EQ(window.MessageTexts(), std::vector<std::string>{"Provin Generator Device not found."});
    EXPECT_EQ(rig.ReadLine(10, 1, kWait), Probe());
    EXPECT_EQ(window.m_link.m_nNextPortToProbe, 1);
    EXPECT_FALSE(window.m_bPortOpen);
    EXPECT_TRUE(window.Engine().Calls(EngineCall::Kind::Close).empty());

    // COM10 is still open and watched: a byte on it reaches the link.
    const std::array<std::uint8_t, 1> noise{0x55};
    ASSERT_TRUE(rig.WriteLine(10, noise));
    ASSERT_TRUE(rig.RunUntil([&] { return window.m_nBytesReceived == 1; }, 5s));
    EXPECT_EQ(window.m_link.m_ring[0], 0x55);
    EXPECT_EQ(window.m_link.m_nParserState, ParserWaitAck);
}

TEST(LinkE2e, MakeProvinDeliversTheFormsFrameByteForByte)
{
    E2eRig rig;
    SimDevice* pDevice = rig.AddDevice(1);
    ASSERT_NE(pDevice, nullptr);
    E2eWindow& window = rig.Window();
    ASSERT_TRUE(rig.Connect());

    // Sector data, sector 2 block 1, bytes 2..6, KEY B, MSB first, ABA
    // "6H to 10D", locking on, password protection on.
    CardSettings& s = window.m_settings;
    SettingsBlock& block = window.m_build.m_settingsBlock;
    ChooseOutputMode(s, block, OutputMode::SectorData);
    ChooseKeyType(s, block, KeyType::KeyB);
    ChooseByteOrder(s, block, ByteOrder::MsbFirst);
    ChooseInterface(s, block, InterfaceKind::Aba);
    ChooseAbaFormat(s, block, AbaFormat::H6ToD10);
    ChoosePasswordProtection(s, block, true);
    s.m_nSector = 2;
    s.m_nBlock = 1;
    s.m_nStartAddress = 2;
    s.m_nEndAddress = 6;
    s.m_strKey = "0123456789ab";
    s.m_strPassword = "DEADBEEF";
    s.m_bConfigLocking = true;

    rig.Link().OnMake();
    ASSERT_TRUE(rig.RunUntil([&] { return !window.m_messages.empty(); }, 10s));
    EXPECT_EQ(window.MessageTexts(), std::vector<std::string>{"Success!"});
    EXPECT_EQ(window.m_messages[0].m_strCaption, "Warning");
    EXPECT_EQ(window.m_link.m_nPendingOperation, PendingNone);
    EXPECT_EQ(window.m_link.m_nParserState, ParserWaitAck);
    EXPECT_FALSE(window.m_build.m_bFrameReady);
    EXPECT_FALSE(window.IsTimerRunning(kReplyTimerId));

    const std::vector<SimExchange> exchanges = pDevice->Exchanges();
    ASSERT_EQ(exchanges.size(), 1U);
    EXPECT_EQ(exchanges[0].m_frame, FrameOf(window.m_build));
    EXPECT_TRUE(exchanges[0].m_bValid) << exchanges[0].m_strDescription;
    const SettingsBlock& staged = window.m_build.m_stagedBlock;
    const Bytes head(staged.begin(), staged.begin() + 5);
    EXPECT_EQ(head, (Bytes{0xFE, 0x16, 0x02, 0x09, 0x01}));
    EXPECT_EQ(staged[5], 0x01);
    EXPECT_EQ(staged[10], 0xAB);
    EXPECT_EQ(staged[11], 0x62);
    EXPECT_EQ(staged[15], 0x5A);
    EXPECT_EQ(staged[16], 0xDE);
    EXPECT_EQ(staged[20], 0x01);

    // After the probe: STX, the frame, then one ACK for the device's STX.
    std::vector<EngineCall> sends = window.Engine().Sends();
    ASSERT_EQ(sends.size(), 4U);
    EXPECT_EQ(sends[1].m_data, Bytes{kStx});
    EXPECT_EQ(sends[2].m_data, FrameOf(window.m_build));
    EXPECT_EQ(sends[3].m_data, Bytes{kAck});
    EXPECT_TRUE(window.m_errors.Errors().empty());
}

TEST(LinkE2e, FailureReplyShowsFailureAndKeepsMakePending)
{
    E2eRig rig;
    SimBehaviour behaviour;
    behaviour.m_nResultStatus = 0x01;
    SimDevice* pDevice = rig.AddDevice(4, behaviour);
    ASSERT_NE(pDevice, nullptr);
    E2eWindow& window = rig.Window();
    ASSERT_TRUE(rig.Connect());

    rig.Link().OnMake();
    ASSERT_TRUE(rig.RunUntil([&] { return !window.m_messages.empty(); }, 10s));
    EXPECT_EQ(window.MessageTexts(), std::vector<std::string>{"Failure!"});
    EXPECT_EQ(window.m_link.m_nPendingOperation, PendingMake);
    EXPECT_EQ(window.m_link.m_nParserState, ParserWaitAck);
    ASSERT_EQ(pDevice->ExchangeCount(), 1U);
    EXPECT_EQ(pDevice->Exchanges()[0].m_nReplyStatus, 0x01);
}

TEST(LinkE2e, NoisyDeviceStillGivesSuccess)
{
    E2eRig rig;
    SimBehaviour behaviour;
    behaviour.m_eFault = SimFault::Noise;
    ASSERT_NE(rig.AddDevice(2, behaviour), nullptr);
    E2eWindow& window = rig.Window();
    ASSERT_TRUE(rig.Connect());

    rig.Link().OnMake();
    ASSERT_TRUE(rig.RunUntil([&] { return !window.m_messages.empty(); }, 10s));
    EXPECT_EQ(window.MessageTexts(), std::vector<std::string>{"Success!"});
}

TEST(LinkE2e, SilentDeviceTimesOutAfterOneSecond)
{
    E2eRig rig;
    SimDevice* pDevice = rig.AddDevice(1);
    ASSERT_NE(pDevice, nullptr);
    E2eWindow& window = rig.Window();
    ASSERT_TRUE(rig.Connect());
    SimBehaviour silent;
    silent.m_eFault = SimFault::Silent;
    pDevice->SetBehaviour(silent);
    // The time-out itself is measured: the reply timer runs on the loop.
    window.HoldTimersOn(1, false);

    rig.Link().OnMake();
    ASSERT_TRUE(rig.RunUntil([&] { return !window.m_messages.empty(); }, 10s));
    EXPECT_EQ(window.MessageTexts(), std::vector<std::string>{"Communication Over time,please check the hardware."});
    const std::vector<EngineCall> sends = window.Engine().Sends();
    ASSERT_EQ(sends.size(), 2U);  // the probe and the STX of "Make Provin"
    EXPECT_EQ(sends[1].m_data, Bytes{kStx});
    const auto wait = MsBetween(sends[1].m_at, window.m_messages[0].m_at);
    EXPECT_GE(wait, kReplyFloor);
    EXPECT_LT(wait, kReplyFloor + kLooseLimit);
    EXPECT_FALSE(window.m_build.m_bFrameReady);
    EXPECT_EQ(window.m_link.m_nPendingOperation, PendingMake);
    EXPECT_FALSE(window.IsTimerRunning(kReplyTimerId));
    EXPECT_EQ(pDevice->ExchangeCount(), 0U);
}

// The program wakes late: each timer fires while the device's answer already
// waits for it. The answer is handled first, so the device is found and the
// card is made.
TEST(LinkE2e, AnAnswerWaitingWhenATimerFiresLateIsNotLost)
{
    E2eRig rig;
    SimDevice* pDevice = rig.AddDevice(1);
    ASSERT_NE(pDevice, nullptr);
    E2eWindow& window = rig.Window();
    // The program is held meanwhile: its loop does not turn.
    const auto answered = [pDevice](std::size_t nCount) {
        for (int nLook = 0; nLook < 10000 && pDevice->ProbesAnswered() < nCount; ++nLook) {
            std::this_thread::sleep_for(1ms);
        }
        return pDevice->ProbesAnswered() >= nCount;
    };
    rig.Link().OnOpenPort();
    ASSERT_TRUE(answered(1));
    ASSERT_TRUE(window.FireTimer(kProbeTimerId));
    // The port's thread is free again once the engine's answer has been taken.
    ASSERT_TRUE(rig.RunUntil([&] { return window.m_bPortOpen && window.m_nCaughtUp == 1; }, kWait));

    rig.Link().OnMake();
    ASSERT_TRUE(answered(2));
    ASSERT_TRUE(window.FireTimer(kReplyTimerId));
    ASSERT_TRUE(rig.RunUntil([&] { return !window.m_messages.empty(); }, kWait));
    EXPECT_EQ(window.MessageTexts(), std::vector<std::string>{"Success!"});
    EXPECT_EQ(pDevice->ExchangeCount(), 1U);
}

// The test plays the device on COM1, byte by byte.
TEST(LinkE2e, ClosePortInTheMiddleOfAReplyLeavesTheParserUntilTheNextSearch)
{
    E2eRig rig;
    ASSERT_NE(rig.AddSilentPort(1), nullptr);
    E2eWindow& window = rig.Window();
    LinkState& link = window.m_link;
    const auto write = [&](std::initializer_list<std::uint8_t> bytes) {
        const Bytes data(bytes);
        return rig.WriteLine(1, data);
    };

    ASSERT_TRUE(rig.ConnectByHand(1, 5s));

    rig.Link().OnMake();
    ASSERT_EQ(rig.ReadLine(1, 1, kWait), Bytes{kStx});
    ASSERT_TRUE(write({kAck}));
    ASSERT_TRUE(rig.RunUntil([&] { return link.m_nParserState == ParserWaitStx; }, 5s));
    ASSERT_EQ(rig.ReadLine(1, kConfigurationFrameSize, kWait), FrameOf(window.m_build));
    ASSERT_TRUE(write({kStx}));
    ASSERT_TRUE(rig.RunUntil([&] { return link.m_nParserState == ParserWaitStart; }, 5s));
    ASSERT_EQ(rig.ReadLine(1, 1, kWait), Bytes{kAck});
    ASSERT_TRUE(write({0xAA, 0x00}));
    ASSERT_TRUE(rig.RunUntil([&] { return link.m_nParserState == ParserLength; }, 5s));

    rig.Link().OnClosePort();
    EXPECT_FALSE(window.m_bPortOpen);
    EXPECT_EQ(window.m_nDisconnected, 1);
    EXPECT_EQ(link.m_nParserState, ParserLength);
    EXPECT_EQ(link.m_nPendingOperation, PendingMake);
    EXPECT_TRUE(window.m_messages.empty());

    // The next search starts afresh: the cut-off reply is dropped and the
    // ACK to its probe connects, and does nothing more: the unfinished card
    // is not sent again.
    rig.Link().OnOpenPort();
    ASSERT_EQ(rig.ReadLine(1, 1, kWait), Probe());
    ASSERT_TRUE(write({kAck}));
    ASSERT_TRUE(rig.RunUntil([&] { return window.m_connectedAt.size() == 2; }, 5s));
    EXPECT_EQ(rig.ReadLine(1, 1, 200ms), Bytes{});
    EXPECT_EQ(link.m_nPendingOperation, PendingNone);
    EXPECT_EQ(link.m_nParserState, ParserWaitAck);
    EXPECT_TRUE(window.m_messages.empty());
    EXPECT_TRUE(window.m_errors.Errors().empty());
}

}  // namespace
}  // namespace varnis::e2e
