// An arbitrary byte stream through the link's reply reader, with a recording
// window and engine. The first byte sets the scene: a search under way, an
// exchange opened by "Make Provin", a form the build refuses, sector-data
// settings, and whether a new exchange is opened each time one has ended.
#include "config/ChoiceRules.h"
#include "config/FrameDecoder.h"
#include "link/DeviceLink.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace {

using namespace varnis;

void Require(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

class FuzzWindow : public ILinkWindow {
public:
    explicit FuzzWindow(BuildState& build) : m_build(build) {}

    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        Require(caption == kCaptionWarning || caption == kCaptionWarnning);
        if (text == kMsgSuccess || text == kMsgFailure || text == kMsgInitSucceed || text == kMsgInitFail) {
            ++m_nExchangesEnded;
        }
    }
    bool IsPortOpen() const override { return m_bPortOpen; }
    void ReadFormTexts() override {}
    const CardSettings& Settings() const override { return m_settings; }
    int SelectedSector() const override { return m_settings.m_nSector; }
    int SelectedBlock() const override { return m_settings.m_nBlock; }
    int SelectedStartAddress() const override { return m_settings.m_nStartAddress; }
    int SelectedEndAddress() const override { return m_settings.m_nEndAddress; }
    void SetPortOpen(bool bOpen) override { m_bPortOpen = bOpen; }
    void StartTimer(int nId, int) override { Require(nId == kReplyTimerId || nId == kProbeTimerId); }
    void StopTimer(int nId) override { Require(nId == kReplyTimerId || nId == kProbeTimerId); }
    void EnterConnectedState() override
    {
        m_bPortOpen = true;
        ApplyConnectionDefaults(m_settings, m_build.m_settingsBlock);
    }
    void EnterDisconnectedState() override {}

    CardSettings m_settings;
    bool m_bPortOpen = false;
    int m_nExchangesEnded = 0;

private:
    BuildState& m_build;
};

class FuzzEngine : public IPortEngine {
public:
    explicit FuzzEngine(const BuildState& build) : m_build(build) {}

    bool Initialise(unsigned portnr, int, char, int, int, std::uint32_t, int) override
    {
        Require(portnr >= 1 && portnr <= 10);
        return portnr >= m_nFirstWorkingPort;
    }
    bool StartMonitor() override { return true; }
    // Only the handshake bytes and whole configuration frames go out, and a
    // frame is always the staged block, readable by the device.
    void Send(std::span<const std::uint8_t> data) override
    {
        if (data.size() == 1) {
            Require(data[0] == kStx || data[0] == kAck);
            return;
        }
        Require(data.size() == kConfigurationFrameSize);
        const ConfigurationFrame expected = AssembleConfigurationFrame(m_build);
        Require(std::equal(data.begin(), data.end(), expected.begin(), expected.end()));
        DecodedConfiguration config;
        std::string strReason;
        Require(DecodeConfigurationFrame(data, config, strReason));
        ++m_nFramesSent;
    }
    bool Close() override { return true; }
    bool RequestCatchUp(std::uint32_t) override { return false; }  // no port thread: expiries act at once

    unsigned m_nFirstWorkingPort = 1;
    int m_nFramesSent = 0;

private:
    const BuildState& m_build;
};

void CheckLinkState(const LinkState& link)
{
    // The read position may rest at kRingSize after the ring's last entry has
    // been read; the link wraps it before its next read.
    Require(link.m_nReadPos >= 0 && link.m_nReadPos <= kRingSize);
    Require(link.m_nWritePos >= 0 && link.m_nWritePos < kRingSize);
    Require(link.m_nParserState >= ParserWaitAck && link.m_nParserState <= ParserEnd);
    Require(link.m_nPendingOperation == PendingNone || link.m_nPendingOperation == PendingMake);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t scene = data[0];
    BuildState build;
    LinkState link;
    FuzzWindow window(build);
    FuzzEngine engine(build);
    DeviceLink deviceLink(window, engine, link, build);

    if ((scene & 0x01) != 0) {
        engine.m_nFirstWorkingPort = 1u + ((scene >> 6) & 0x03u) * 3u;  // 1, 4, 7 or 10
        deviceLink.OnOpenPort();
    } else {
        window.EnterConnectedState();
    }
    if ((scene & 0x04) != 0)
        window.m_settings.m_strPassword = "4715026";  // the build refuses it
    if ((scene & 0x08) != 0) {
        ChooseOutputMode(window.m_settings, build.m_settingsBlock, OutputMode::SectorData);
        ChooseInterface(window.m_settings, build.m_settingsBlock, InterfaceKind::Aba);
        window.m_settings.m_nSector = 15, window.m_settings.m_nBlock = 3;
        window.m_settings.m_nStartAddress = 11, window.m_settings.m_nEndAddress = 15;
    }
    if ((scene & 0x02) != 0)
        deviceLink.OnMake();
    CheckLinkState(link);

    int nEndedSeen = window.m_nExchangesEnded;
    for (std::size_t i = 1; i < size; ++i) {
        deviceLink.OnReceivedByte(data[i], 1);
        CheckLinkState(link);
        if (window.m_nExchangesEnded != nEndedSeen) {
            nEndedSeen = window.m_nExchangesEnded;
            if ((scene & 0x10) != 0)
                deviceLink.OnMake();
        }
        // Now and then a timer runs out in the middle of the stream.
        if ((scene & 0x20) != 0 && data[i] == 0xFF) {
            deviceLink.OnLinkTimer(i % 2 == 0 ? kReplyTimerId : kProbeTimerId);
            CheckLinkState(link);
        }
    }
    deviceLink.OnLinkTimer(kReplyTimerId);
    deviceLink.OnLinkTimer(kProbeTimerId);
    CheckLinkState(link);
    Require(!build.m_bFrameReady);
    return 0;
}
