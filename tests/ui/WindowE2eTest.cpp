// The real window, engine and link against the simulated device over
// pseudo-terminals: two silent ports behind COM1 and COM2, the device behind COM3.
#include "config/FrameDecoder.h"
#include "sim/SimDevice.h"
#include "ui/UiTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace varnis::uitest {
namespace {

using namespace std::chrono_literals;

const QString kSuccess = QStringLiteral("Success!");
const QString kOverTime = QStringLiteral("Communication Over time,please check the hardware.");
const QString kNotFound = QStringLiteral("Provin Generator Device not found.");
constexpr unsigned kDevicePort = 3;

// The window with the link's timers held for the test where the device is:
// the probe of COM3 (once a device is there) and every reply timer wait until
// the test fires them (FireTimer), so a device that answers late on a busy
// machine is never taken for a silent one. The probes of the silent COM1 and
// COM2 run in real time. The timing of both timers is measured in the link's
// own end-to-end tests.
class HeldTimerDlg : public VarnisDlg {
public:
    void StartTimer(int nId, int nMilliseconds) override
    {
        StopTimer(nId);
        // A probe's timer starts once the search has moved its next port on
        // past the port just probed.
        // A start with no wait (an expiry the engine has caught up with) runs.
        const bool bHold = nMilliseconds > 0 &&
                           (nId == kReplyTimerId ||
                            (nId == kProbeTimerId && m_bDeviceOnPort &&
                             VarnisDlgProbe(*this).Link().m_nNextPortToProbe == static_cast<int>(kDevicePort) + 1));
        if (bHold)
            m_held.insert(nId);
        else
            VarnisDlg::StartTimer(nId, nMilliseconds);
    }
    void StopTimer(int nId) override
    {
        m_held.erase(nId);
        VarnisDlg::StopTimer(nId);
    }
    bool IsTimerRunning(int nId) const { return m_held.contains(nId) || VarnisDlgProbe(*this).IsTimerRunning(nId); }
    // The held timer expires at the window's next turn of its event loop.
    bool FireTimer(int nId)
    {
        if (!m_held.erase(nId))
            return false;
        VarnisDlg::StartTimer(nId, 0);
        return true;
    }

    bool m_bDeviceOnPort = false;

private:
    std::set<int> m_held;
};

class WindowE2e : public ::testing::Test {
protected:
    void SetUp() override
    {
        PortTable table;
        for (unsigned n = 1; n <= 3; ++n) {
            std::optional<PtyPair> pair = PtyPair::Open();
            ASSERT_TRUE(pair.has_value());
            table.SetPath(n, pair->SlavePath());
            m_lines.push_back(std::move(*pair));
        }
        m_pDlg = std::make_unique<HeldTimerDlg>();
        m_pDlg->SetPortTable(table);
        m_pDlg->SetMessageBoxes(&m_boxes);
        m_pDlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pDlg.get()));
    }
    void TearDown() override
    {
        m_pDlg.reset();  // the engine stops before the device and the lines go
        if (m_pDevice)
            m_pDevice->Stop();
    }

    SimDevice& StartDevice(SimBehaviour behaviour = {})
    {
        m_pDevice = std::make_unique<SimDevice>(m_lines.at(kDevicePort - 1).MasterFd(), behaviour);
        EXPECT_TRUE(m_pDevice->Start());
        Dlg().m_bDeviceOnPort = true;
        return *m_pDevice;
    }
    bool Connect()
    {
        ClickOn(Dlg(), kIdOpenPort);
        return WaitFor([this]() { return VarnisDlgProbe(Dlg()).IsPortOpen(); }, 10s);
    }
    HeldTimerDlg& Dlg() { return *m_pDlg; }
    VarnisDlgProbe Probe() const { return VarnisDlgProbe(*m_pDlg); }
    // Writes one byte into the device's line, as the device would. The line is
    // non-blocking and shared with the device's thread: the kernel may say
    // "try again" for a moment, which is no failure.
    bool WriteAsDevice(std::uint8_t nByte)
    {
        const int hMaster = m_lines.at(kDevicePort - 1).MasterFd();
        for (int nTry = 0; nTry < 500; ++nTry) {
            const ssize_t nWritten = ::write(hMaster, &nByte, 1);
            if (nWritten == 1)
                return true;
            if (nWritten < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd entry{hMaster, POLLOUT, 0};
            ::poll(&entry, 1, 10);
        }
        return false;
    }

    std::vector<PtyPair> m_lines;
    std::unique_ptr<SimDevice> m_pDevice;
    FakeMessageBoxes m_boxes;
    std::unique_ptr<HeldTimerDlg> m_pDlg;
};

TEST_F(WindowE2e, OpenPortFindsTheDeviceAndMakeProvinSendsTheFrameTheFormDescribes)
{
    SimDevice& device = StartDevice();
    ASSERT_TRUE(Connect());
    EXPECT_EQ(EnabledIds(Dlg()),
              (std::set<int>{kIdExit, kIdHelp, kIdMake, kIdClosePort, kIdMode0, kIdMode1, kIdWiegand, kIdAba,
                             kIdWiegand26, kIdWiegand34, kIdWiegand42, kIdDefaultTiming, kIdUserDefined, kIdPassword,
                             kIdPasswordEnable, kIdPasswordDisable, kIdLocking}));
    EXPECT_EQ(device.ProbesAnswered(), 1U);
    EXPECT_TRUE(m_boxes.m_records.empty());

    ClickOn(Dlg(), kIdMode1);
    ClickOn(Dlg(), kIdKeyB);
    ClickOn(Dlg(), kIdMsbFirst);
    ListOf(Dlg(), kIdSector)->setCurrentIndex(5);
    ListOf(Dlg(), kIdBlock)->setCurrentIndex(2);
    ListOf(Dlg(), kIdStartAddress)->setCurrentIndex(1);
    ListOf(Dlg(), kIdEndAddress)->setCurrentIndex(4);
    EditOf(Dlg(), kIdKey)->setText("112233445566");
    ClickOn(Dlg(), kIdAba);
    ClickOn(Dlg(), kIdAba6HTo10D);
    ClickOn(Dlg(), kIdPasswordEnable);
    EditOf(Dlg(), kIdPassword)->setText("1234ABCD");
    m_boxes.m_confirmAnswers = {true};
    ClickOn(Dlg(), kIdLocking);

    ClickOn(Dlg(), kIdMake);
    ASSERT_TRUE(WaitFor([this]() { return m_boxes.Has(kSuccess); }, 10s));
    EXPECT_EQ(m_boxes.m_records.back().m_strCaption, "Warning");
    EXPECT_EQ(Probe().Link().m_nPendingOperation, PendingNone);

    const std::vector<SimExchange> exchanges = device.Exchanges();
    ASSERT_EQ(exchanges.size(), 1U);
    ASSERT_TRUE(exchanges.front().m_bValid) << exchanges.front().m_strDescription;
    const ConfigurationFrame expected = AssembleConfigurationFrame(Probe().Build());
    EXPECT_EQ(exchanges.front().m_frame, std::vector<std::uint8_t>(expected.begin(), expected.end()));

    DecodedConfiguration decoded;
    std::string strReason;
    ASSERT_TRUE(DecodeConfigurationFrame(exchanges.front().m_frame, decoded, strReason)) << strReason;
    EXPECT_EQ(decoded.m_eOutputMode, OutputMode::SectorData);
    EXPECT_EQ(decoded.m_eInterface, InterfaceKind::Aba);
    EXPECT_EQ(decoded.m_eAbaFormat, AbaFormat::H6ToD10);
    EXPECT_EQ(decoded.m_nSector, 5);
    EXPECT_EQ(decoded.m_nBlockNumber, 5 * 4 + 2);
    EXPECT_EQ(decoded.m_eKeyType, KeyType::KeyB);
    EXPECT_EQ(decoded.m_key, (std::array<std::uint8_t, 6>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    EXPECT_EQ(decoded.m_nStartAddress, 1);
    EXPECT_EQ(decoded.m_nEndAddress, 4);
    EXPECT_EQ(decoded.m_eByteOrder, ByteOrder::MsbFirst);
    EXPECT_EQ(decoded.m_nImpulseWidth, 8);  // ABA: fixed timing
    EXPECT_EQ(decoded.m_nImpulseInterval, 40);
    EXPECT_TRUE(decoded.m_bConfigLocking);
    EXPECT_EQ(decoded.m_password, (std::array<std::uint8_t, 4>{0x12, 0x34, 0xAB, 0xCD}));
    EXPECT_TRUE(decoded.m_bPasswordProtection);

    // "ClosePort", then a new search finds the device again from COM1.
    ClickOn(Dlg(), kIdClosePort);
    EXPECT_FALSE(VarnisDlgProbe(Dlg()).IsPortOpen());
    EXPECT_EQ(EnabledIds(Dlg()), (std::set<int>{kIdExit, kIdHelp, kIdOpenPort}));
    ASSERT_TRUE(Connect());
    EXPECT_EQ(device.ProbesAnswered(), 3U);  // two probes and the STX of "Make Provin"
    EXPECT_FALSE(Button(Dlg(), kIdLocking)->isChecked());
}

TEST_F(WindowE2e, ASilentDeviceGivesTheTimeOutBox)
{
    SimDevice& device = StartDevice();
    ASSERT_TRUE(Connect());
    SimBehaviour silent;
    silent.m_eFault = SimFault::Silent;
    device.SetBehaviour(silent);
    ClickOn(Dlg(), kIdMake);
    EXPECT_TRUE(Dlg().IsTimerRunning(kReplyTimerId));
    ASSERT_TRUE(Dlg().FireTimer(kReplyTimerId));
    ASSERT_TRUE(WaitFor([this]() { return m_boxes.Has(kOverTime); }, 10s));
    EXPECT_EQ(m_boxes.m_records.back().m_strCaption, "Warning");
    EXPECT_FALSE(Dlg().IsTimerRunning(kReplyTimerId));
    EXPECT_FALSE(Probe().Build().m_bFrameReady);
    EXPECT_FALSE(m_boxes.Has(kSuccess));
}

// The device's line goes away after the frame: the engine's box comes once,
// nothing waits on the dead line and the window is disconnected, as after
// ClosePort. The device plugged back in is found again, connecting sends
// nothing but the probe, and the next card goes through.
TEST_F(WindowE2e, ALostLineIsReportedOnceAndTheDeviceWorksWhenItIsBack)
{
    SimBehaviour mute;
    mute.m_eFault = SimFault::NeverAnnounces;
    SimDevice& device = StartDevice(mute);
    ASSERT_TRUE(Connect());
    ClickOn(Dlg(), kIdMake);
    ASSERT_TRUE(WaitFor([&device]() { return device.ExchangeCount() == 1; }, 10s));
    m_pDevice->Stop();
    m_lines.at(kDevicePort - 1).CloseMaster();
    const auto errors = [this]() {
        return std::count_if(m_boxes.m_records.begin(), m_boxes.m_records.end(),
                             [](const BoxRecord& r) { return r.m_eKind == BoxRecord::Kind::Error; });
    };
    ASSERT_TRUE(WaitFor([&]() { return errors() == 1; }, 10s));
    EXPECT_EQ(m_boxes.m_records.back().m_strCaption, "Application Error");
    EXPECT_TRUE(WaitFor([this]() { return Probe().Link().m_nParserState == ParserWaitAck; }, 10s));
    EXPECT_FALSE(Dlg().IsTimerRunning(kReplyTimerId));

    // The window is disconnected at once, as after ClosePort.
    EXPECT_FALSE(VarnisDlgProbe(Dlg()).IsPortOpen());
    EXPECT_EQ(EnabledIds(Dlg()), (std::set<int>{kIdExit, kIdHelp, kIdOpenPort}));
    std::optional<PtyPair> back = PtyPair::Open();
    ASSERT_TRUE(back.has_value());
    m_pDevice.reset();
    m_lines.at(kDevicePort - 1) = std::move(*back);
    PortTable table;
    for (unsigned n = 1; n <= 3; ++n)
        table.SetPath(n, m_lines.at(n - 1).SlavePath());
    Dlg().SetPortTable(table);
    SimDevice& again = StartDevice();
    ASSERT_TRUE(Connect());
    QTest::qWait(200);
    EXPECT_EQ(again.ProbesAnswered(), 1U);
    EXPECT_EQ(again.ExchangeCount(), 0U);  // the lost card is not written unasked
    ClickOn(Dlg(), kIdMake);
    ASSERT_TRUE(WaitFor([this]() { return m_boxes.Has(kSuccess); }, 10s));
    EXPECT_EQ(again.ExchangeCount(), 1U);
    EXPECT_EQ(errors(), 1);
}

TEST_F(WindowE2e, NoDeviceOnAnyPortGivesTheNotFoundBox)
{
    ClickOn(Dlg(), kIdOpenPort);
    ASSERT_TRUE(WaitFor([this]() { return m_boxes.Has(kNotFound); }, 10s));
    EXPECT_EQ(m_boxes.CountOf(kNotFound), 1);
    EXPECT_FALSE(VarnisDlgProbe(Dlg()).IsPortOpen());
    EXPECT_EQ(EnabledIds(Dlg()), (std::set<int>{kIdExit, kIdHelp, kIdOpenPort}));
    EXPECT_EQ(Probe().Link().m_nNextPortToProbe, 1);
}

// The device keeps quiet until the reply time is up, then its ACK comes
// while the time-out box is open (the test writes it for the device).
TEST_F(WindowE2e, ALateAckIsHandledWhileTheTimeOutBoxIsOpen)
{
    SimDevice& device = StartDevice();
    ASSERT_TRUE(Connect());
    SimBehaviour silent;
    silent.m_eFault = SimFault::Silent;
    device.SetBehaviour(silent);
    bool bSuccessWhileOpen = false;
    m_boxes.m_onShow = [&](const BoxRecord& box) {
        if (box.m_strText != kOverTime)
            return;
        device.SetBehaviour({});  // takes the frame that the ACK lets out
        ASSERT_TRUE(WriteAsDevice(kAck));
        bSuccessWhileOpen = WaitFor([this]() { return m_boxes.Has(kSuccess); }, 10s);
    };
    ClickOn(Dlg(), kIdMake);
    ASSERT_TRUE(Dlg().FireTimer(kReplyTimerId));
    ASSERT_TRUE(WaitFor([this]() { return m_boxes.Has(kSuccess) && m_boxes.m_nOpen == 0; }, 15s));
    EXPECT_TRUE(bSuccessWhileOpen);
    ASSERT_GE(m_boxes.m_records.size(), 2U);
    EXPECT_EQ(m_boxes.m_records.at(0).m_strText, kOverTime);
    EXPECT_EQ(m_boxes.m_records.at(1).m_strText, kSuccess);
    EXPECT_EQ(device.ExchangeCount(), 1U);
}

TEST_F(WindowE2e, NoByteIsDeliveredWhileAnOutcomeBoxIsOpen)
{
    StartDevice();
    ASSERT_TRUE(Connect());
    std::int32_t nWritePosInBox = -1;
    bool bHeldBack = false;
    m_boxes.m_onShow = [&](const BoxRecord& box) {
        if (box.m_strText != kSuccess)
            return;
        nWritePosInBox = Probe().Link().m_nWritePos;
        // A stray byte arrives while the outcome is shown; it must wait.
        ASSERT_TRUE(WriteAsDevice(0x55));
        bHeldBack = !WaitFor([&]() { return Probe().Link().m_nWritePos != nWritePosInBox; }, 600ms);
    };
    ClickOn(Dlg(), kIdMake);
    ASSERT_TRUE(WaitFor([this]() { return m_boxes.Has(kSuccess) && m_boxes.m_nOpen == 0; }, 10s));
    EXPECT_TRUE(bHeldBack);
    // Once the box is closed the byte is delivered.
    EXPECT_TRUE(WaitFor([&]() { return Probe().Link().m_nWritePos == nWritePosInBox + 1; }, 5s));
}

}  // namespace
}  // namespace varnis::uitest
