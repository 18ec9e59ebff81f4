// The device link against a recording window and engine: the reply parser
// state by state, the "Make Provin" exchange, the timers and the port search.
#include "FakeLinkWindow.h"

#include "config/SettingsBuild.h"
#include "link/DeviceLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <map>
#include <vector>

namespace varnis {
namespace {

using test::FakeLinkWindow;
using test::FakePortEngine;
using test::Journal;

using Bytes = std::vector<std::uint8_t>;

std::string Hex(std::uint8_t b)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {kHex[b >> 4], kHex[b & 0x0F]};
}

class DeviceLinkTest : public ::testing::Test {
protected:
    Journal m_journal;
    FakeLinkWindow m_window{m_journal};
    FakePortEngine m_engine{m_journal};
    LinkState m_link;
    BuildState m_build;
    DeviceLink m_deviceLink{m_window, m_engine, m_link, m_build};

    void Feed(std::initializer_list<std::uint8_t> bytes)
    {
        for (const std::uint8_t b : bytes) {
            m_journal.Add("rx " + Hex(b));
            m_deviceLink.OnReceivedByte(b, m_engine.m_nOpenPort);
        }
    }

    // A timer that the window would fire: only a running one can expire.
    void Fire(int nId)
    {
        ASSERT_TRUE(m_window.IsTimerRunning(nId)) << "timer " << nId << " is not running";
        m_deviceLink.OnLinkTimer(nId);
    }

    // The device on `port` answers the first probe.
    void Connect(unsigned port = 1)
    {
        m_engine.m_openable.insert(port);
        m_deviceLink.OnOpenPort();
        ASSERT_TRUE(m_link.m_bProbeOutstanding);
        Feed({kAck});
        ASSERT_EQ(m_window.m_nConnected, 1);
    }

    // "Make Provin" up to the configuration frame having been sent.
    void MakeUpToFrame()
    {
        m_deviceLink.OnMake();
        ASSERT_EQ(m_engine.m_sends.back(), Bytes{kStx});
        Feed({kAck});
        ASSERT_EQ(m_engine.m_sends.back().size(), kConfigurationFrameSize);
        ASSERT_EQ(m_link.m_nParserState, ParserWaitStx);
    }

    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto& m : m_window.m_messages) {
            texts.push_back(m.m_strText);
        }
        return texts;
    }

    Bytes FrameBytes() const
    {
        const ConfigurationFrame frame = AssembleConfigurationFrame(m_build);
        return {frame.begin(), frame.end()};
    }

    std::size_t CountSends(const Bytes& bytes) const
    {
        return static_cast<std::size_t>(std::count(m_engine.m_sends.begin(), m_engine.m_sends.end(), bytes));
    }

    // Index of the first journal entry equal to `entry` at or after `from`.
    std::ptrdiff_t IndexOf(const std::string& entry, std::size_t from = 0) const
    {
        const auto& e = m_journal.m_entries;
        const auto it = std::find(e.begin() + static_cast<std::ptrdiff_t>(from), e.end(), entry);
        return it == e.end() ? -1 : it - e.begin();
    }
};

// ---- the parser table, state by state ------------------------------------

struct ParserStep {
    std::int32_t m_nFrom;
    std::uint8_t m_nByte;
    std::int32_t m_nTo;
    bool m_bSendsAck;  // the byte is answered with a single 0x06
};

TEST_F(DeviceLinkTest, ParserTableStateByState)
{
    const std::vector<ParserStep> steps = {
        // state 0: only ACK moves on (nothing pending, no probe: nothing is sent)
        {0, 0x00, 0, false},
        {0, kStx, 0, false},
        {0, 0xAA, 0, false},
        {0, 0x03, 0, false},
        {0, kAck, 1, false},
        // state 1: only STX moves on, and is acknowledged
        {1, kAck, 1, false},
        {1, 0xAA, 1, false},
        {1, 0xFF, 1, false},
        {1, kStx, 2, true},
        // state 2: only the start byte moves on
        {2, kStx, 2, false},
        {2, kAck, 2, false},
        {2, 0x03, 2, false},
        {2, 0xAA, 3, false},
        // states 3 to 5 take any byte
        {3, 0x06, 4, false},
        {4, 0x02, 5, false},
        {5, 0x00, 6, false},
        // state 6 takes any byte, shows the outcome and starts over
        {6, 0x55, 0, false},
    };
    for (const ParserStep& step : steps) {
        SCOPED_TRACE("state " + std::to_string(step.m_nFrom) + " byte " + Hex(step.m_nByte));
        m_link.m_nParserState = step.m_nFrom;
        const std::size_t nSendsBefore = m_engine.m_sends.size();
        const int nReadsBefore = m_window.m_nReadFormTexts;
        Feed({step.m_nByte});
        EXPECT_EQ(m_link.m_nParserState, step.m_nTo);
        if (step.m_bSendsAck) {
            ASSERT_EQ(m_engine.m_sends.size(), nSendsBefore + 1);
            EXPECT_EQ(m_engine.m_sends.back(), Bytes{kAck});
            EXPECT_EQ(m_window.m_nReadFormTexts, nReadsBefore + 1);
        } else {
            EXPECT_EQ(m_engine.m_sends.size(), nSendsBefore);
        }
    }
    // Only state 6 showed a message: a failure, since 0x55 is no end byte.
    EXPECT_EQ(Messages(), std::vector<std::string>{"Initialize card fail"});
}

TEST_F(DeviceLinkTest, OutcomeNeedsStatusCheckAndEndByteAllRight)
{
    struct Reply {
        Bytes m_bytes;
        bool m_bSuccess;
    };
    const std::vector<Reply> replies = {
        {{0xAA, 0x00, 0x00, 0xAA, 0x03}, true},
        {{0xAA, 0x00, 0x7F, 0xAA, 0x03}, true},  // the length byte is not examined
        {{0xAA, 0x01, 0x00, 0xAB, 0x03}, false},
        {{0xAA, 0x00, 0x00, 0xAB, 0x03}, false},
        {{0xAA, 0x01, 0x00, 0xAA, 0x03}, false},
        {{0xAA, 0x00, 0x00, 0xAA, 0xAA}, false},
    };
    for (const Reply& r : replies) {
        m_window.m_messages.clear();
        m_link.m_nParserState = ParserWaitStart;
        for (const std::uint8_t b : r.m_bytes) {
            Feed({b});
        }
        EXPECT_EQ(Messages(),
                  std::vector<std::string>{r.m_bSuccess ? "Initialize card succeed" : "Initialize card fail"});
        EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    }
}

// ---- the "Make Provin" exchange ------------------------------------------

TEST_F(DeviceLinkTest, MakeSendsStxAndStartsTheReplyTimer)
{
    Connect();
    m_journal.m_entries.clear();
    m_deviceLink.OnMake();
    EXPECT_EQ(m_link.m_nPendingOperation, PendingMake);
    EXPECT_TRUE(m_build.m_bFrameReady);
    EXPECT_EQ(m_engine.m_sends.back(), Bytes{kStx});
    EXPECT_EQ(m_window.TimerPeriod(kReplyTimerId), 1000);
    // STX goes out before the timer starts.
    EXPECT_LT(IndexOf("send 02"), IndexOf("start-timer 1 1000"));
}

TEST_F(DeviceLinkTest, SuccessfulExchangeSendsTheFrameAndOneAckRightAfterTheDevicesStx)
{
    Connect();
    m_deviceLink.OnMake();
    m_journal.m_entries.clear();
    const std::size_t nSendsAtAck = m_engine.m_sends.size();

    Feed({kAck});
    EXPECT_FALSE(m_window.IsTimerRunning(kReplyTimerId));
    ASSERT_EQ(m_engine.m_sends.size(), nSendsAtAck + 1);
    EXPECT_EQ(m_engine.m_sends.back(), FrameBytes());
    EXPECT_FALSE(m_build.m_bFrameReady);

    Feed({0x02, 0xAA, 0x00, 0x00, 0xAA, 0x03});
    EXPECT_EQ(Messages(), std::vector<std::string>{"Success!"});
    EXPECT_EQ(m_link.m_nPendingOperation, PendingNone);
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    EXPECT_EQ(CountSends({kAck}), 1U);
    const std::ptrdiff_t nStx = IndexOf("rx 02");
    ASSERT_GE(nStx, 0);
    EXPECT_EQ(m_journal.m_entries[static_cast<std::size_t>(nStx) + 1], "send 06");
    EXPECT_EQ(m_journal.m_entries[static_cast<std::size_t>(nStx) + 2], "rx AA");
}

TEST_F(DeviceLinkTest, FailureReplyKeepsMakePending)
{
    Connect();
    MakeUpToFrame();
    Feed({0x02, 0xAA, 0x01, 0x00, 0xAB, 0x03});
    EXPECT_EQ(Messages(), std::vector<std::string>{"Failure!"});
    EXPECT_EQ(m_link.m_nPendingOperation, PendingMake);
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
}

TEST_F(DeviceLinkTest, NoiseBeforeStxAndStartByteIsSkippedButAfterItIsTakenAsTheReply)
{
    Connect();
    MakeUpToFrame();
    const std::size_t nSends = m_engine.m_sends.size();
    Feed({0x00, 0x06, 0xAA, 0x03, 0xFF});  // state 1
    EXPECT_EQ(m_link.m_nParserState, ParserWaitStx);
    EXPECT_EQ(m_engine.m_sends.size(), nSends);
    Feed({0x02});
    Feed({0x02, 0x06, 0x03, 0x00, 0x55});  // state 2
    EXPECT_EQ(m_link.m_nParserState, ParserWaitStart);
    EXPECT_TRUE(m_window.m_messages.empty());
    // After the start byte, noise stands in for status, length, check and end.
    Feed({0xAA, 0x00, 0x06, 0xAA, 0x02});
    EXPECT_EQ(Messages(), std::vector<std::string>{"Failure!"});
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    EXPECT_EQ(CountSends({kAck}), 1U);
    EXPECT_EQ(m_engine.m_sends.size(), nSends + 1);
}

TEST_F(DeviceLinkTest, UnsolicitedAckThenAReplyIsAnInitialisationResult)
{
    Feed({kAck});
    EXPECT_EQ(m_link.m_nParserState, ParserWaitStx);
    EXPECT_TRUE(m_engine.m_sends.empty());
    Feed({0x02});
    EXPECT_EQ(m_engine.m_sends, std::vector<Bytes>{Bytes{kAck}});
    Feed({0xAA, 0x00, 0x00, 0xAA, 0x03});
    EXPECT_EQ(Messages(), std::vector<std::string>{"Initialize card succeed"});
    EXPECT_EQ(m_link.m_nPendingOperation, PendingNone);
}

TEST_F(DeviceLinkTest, ReplyInStateZeroIsIgnoredExceptAnAck)
{
    Feed({0x02, 0xAA, 0x00, 0x00, 0xAA, 0x03});
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    EXPECT_TRUE(m_engine.m_sends.empty());
    EXPECT_TRUE(m_window.m_messages.empty());
    Feed({0x02, 0xAA, 0x06, 0x00, 0xAA, 0x03});
    EXPECT_EQ(m_link.m_nParserState, ParserWaitStx);
    EXPECT_TRUE(m_window.m_messages.empty());
}

// A card that did not finish is never written again unasked: the ACK that
// answers the next search's probe connects and does nothing more.
TEST_F(DeviceLinkTest, ProbeAckAfterFailureConnectsAndSendsNothingMore)
{
    Connect(2);
    MakeUpToFrame();
    Feed({0x02, 0xAA, 0x01, 0x00, 0xAB, 0x03});
    ASSERT_EQ(Messages(), std::vector<std::string>{"Failure!"});

    m_deviceLink.OnClosePort();
    m_deviceLink.OnOpenPort();
    ASSERT_EQ(m_engine.m_sends.back(), Bytes{kStx});
    const std::size_t nSends = m_engine.m_sends.size();
    Feed({kAck});
    EXPECT_EQ(m_window.m_nConnected, 2);
    EXPECT_FALSE(m_window.IsTimerRunning(kProbeTimerId));
    EXPECT_FALSE(m_link.m_bProbeOutstanding);
    EXPECT_EQ(m_link.m_nNextPortToProbe, 1);
    EXPECT_EQ(m_engine.m_sends.size(), nSends);
    EXPECT_EQ(m_link.m_nPendingOperation, PendingNone);
    EXPECT_FALSE(m_build.m_bFrameReady);
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    // A later ACK on the same connection has nothing to send either.
    Feed({kAck});
    EXPECT_EQ(m_engine.m_sends.size(), nSends);
}

TEST_F(DeviceLinkTest, The1025thByteLandsInEntryZeroAndIsParsed)
{
    for (int i = 0; i < kRingSize; ++i) {
        Feed({static_cast<std::uint8_t>(0x10 + (i % 0x40))});
    }
    EXPECT_EQ(m_link.m_nWritePos, 0);
    EXPECT_EQ(m_link.m_ring[kRingSize - 1], 0x10 + ((kRingSize - 1) % 0x40));
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    Feed({kAck});
    EXPECT_EQ(m_link.m_ring[0], kAck);
    EXPECT_EQ(m_link.m_nWritePos, 1);
    EXPECT_EQ(m_link.m_nReadPos, 1);
    EXPECT_EQ(m_link.m_nParserState, ParserWaitStx);
    // And the ring goes on: a full reply across the wrap still parses.
    Feed({0x02, 0xAA, 0x00, 0x00, 0xAA, 0x03});
    EXPECT_EQ(Messages(), std::vector<std::string>{"Initialize card succeed"});
}

// ---- the timers ----------------------------------------------------------

TEST_F(DeviceLinkTest, ReplyTimeoutShowsItsMessageAndALateAckStillSendsTheFrame)
{
    Connect();
    m_deviceLink.OnMake();
    Fire(kReplyTimerId);
    EXPECT_FALSE(m_window.IsTimerRunning(kReplyTimerId));
    EXPECT_EQ(Messages(), std::vector<std::string>{"Communication Over time,please check the hardware."});
    EXPECT_FALSE(m_build.m_bFrameReady);
    EXPECT_EQ(m_link.m_nPendingOperation, PendingMake);
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);

    Feed({kAck});
    EXPECT_EQ(m_engine.m_sends.back(), FrameBytes());
    EXPECT_EQ(m_window.m_messages.size(), 1U);
    EXPECT_EQ(m_link.m_nParserState, ParserWaitStx);
}

TEST_F(DeviceLinkTest, ProbeTimerAfterTheAnswerDoesNothing)
{
    m_engine.m_openable = {1, 2};
    m_deviceLink.OnOpenPort();
    const int nTimerStarts = m_window.TimerStarts(kProbeTimerId);
    Feed({kAck});
    ASSERT_EQ(m_window.m_nConnected, 1);
    const std::size_t nInits = m_engine.m_inits.size();
    const std::size_t nSends = m_engine.m_sends.size();
    // The expiry was already queued when the answer came.
    m_deviceLink.OnLinkTimer(kProbeTimerId);
    EXPECT_EQ(m_engine.m_inits.size(), nInits);
    EXPECT_EQ(m_engine.m_sends.size(), nSends);
    EXPECT_TRUE(m_window.m_messages.empty());
    EXPECT_EQ(m_window.TimerStarts(kProbeTimerId), nTimerStarts);
    EXPECT_EQ(m_link.m_nNextPortToProbe, 1);
}

// A late wake-up: the expiry first lets the engine hand over what the port
// has already received, and acts only on the answer to that (SPN_CAUGHT_UP):
// an answer that came in time wins.
TEST_F(DeviceLinkTest, ATimerActsOnlyAfterTheBytesAlreadyReceived)
{
    struct Case {
        const char* m_pszName;
        int m_nTimer;
        bool m_bAnswerQueued;      // the device's ACK was waiting in the port
        const char* m_pszMessage;  // the expiry's message, if it acts ("" none)
    };
    const std::vector<Case> cases{
        {"probe answered in time", kProbeTimerId, true, ""},
        {"probe unanswered", kProbeTimerId, false, "Provin Generator Device not found."},
        {"reply ACK in time", kReplyTimerId, true, ""},
        {"reply unanswered", kReplyTimerId, false, "Communication Over time,please check the hardware."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        m_engine.m_openable = {1};
        m_engine.m_bCatchUp = true;
        m_link = LinkState{};
        m_window.m_messages.clear();
        m_window.m_bPortOpen = false;
        m_window.m_nConnected = 0;
        m_deviceLink.OnOpenPort();
        if (c.m_nTimer == kReplyTimerId) {
            Feed({kAck});
            m_deviceLink.OnMake();
        }
        const std::size_t nSends = m_engine.m_sends.size();
        Fire(c.m_nTimer);
        ASSERT_EQ(m_journal.m_entries.back(), "start-timer " + std::to_string(c.m_nTimer) + " " +
                                                  std::to_string(c.m_nTimer == kProbeTimerId ? 100 : 1000));
        ASSERT_EQ(m_journal.m_entries.end()[-2], "catch up " + std::to_string(c.m_nTimer));
        EXPECT_TRUE(Messages().empty());  // nothing acts before the engine has caught up
        if (c.m_bAnswerQueued) {
            Feed({kAck});
        }
        m_deviceLink.OnCaughtUp(static_cast<std::uint32_t>(c.m_nTimer), 1);
        EXPECT_TRUE(Messages().empty());  // not inside the engine's notification
        if (m_window.IsTimerRunning(c.m_nTimer)) {
            EXPECT_EQ(m_window.TimerPeriod(c.m_nTimer), 0);
            Fire(c.m_nTimer);
        }
        EXPECT_EQ(Messages(),
                  c.m_pszMessage[0] != 0 ? std::vector<std::string>{c.m_pszMessage} : std::vector<std::string>{});
        if (c.m_bAnswerQueued && c.m_nTimer == kProbeTimerId) {
            EXPECT_EQ(m_window.m_nConnected, 1);
        }
        if (c.m_bAnswerQueued && c.m_nTimer == kReplyTimerId) {
            EXPECT_EQ(m_engine.m_sends.back(), FrameBytes());
            EXPECT_EQ(m_engine.m_sends.size(), nSends + 1);
        }
        m_deviceLink.OnClosePort();
    }
    // An answer to a stopped timer, and one that never comes: the timer's
    // next expiry acts without it.
    m_window.m_nConnected = 0;
    m_window.m_messages.clear();
    Connect(1);
    m_deviceLink.OnMake();
    Fire(kReplyTimerId);
    Feed({kAck});  // stops the reply timer
    m_deviceLink.OnCaughtUp(kReplyTimerId, 1);
    EXPECT_TRUE(Messages().empty());
    m_deviceLink.OnMake();
    Fire(kReplyTimerId);
    Fire(kReplyTimerId);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Communication Over time,please check the hardware."});
}

TEST_F(DeviceLinkTest, OtherTimerIdsHaveNoEffect)
{
    Connect();
    m_deviceLink.OnMake();
    const auto journal = m_journal.m_entries;
    m_deviceLink.OnLinkTimer(0);
    m_deviceLink.OnLinkTimer(3);
    EXPECT_EQ(m_journal.m_entries, journal);
}

// ---- OnMake and the build ------------------------------------------------

TEST_F(DeviceLinkTest, FailedBuildSetsMakePendingAndSendsNothing)
{
    m_deviceLink.OnMake();  // the port is not open
    EXPECT_EQ(m_link.m_nPendingOperation, PendingMake);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Port not open,please open it"});
    EXPECT_TRUE(m_engine.m_sends.empty());
    EXPECT_FALSE(m_window.IsTimerRunning(kReplyTimerId));
}

TEST_F(DeviceLinkTest, MakeAgainWhileWaitingForTheAckSendsStxAgainAndRestartsTheTimer)
{
    Connect();
    m_deviceLink.OnMake();
    m_deviceLink.OnMake();
    EXPECT_EQ(CountSends({kStx}), 3U);  // the probe and two openings
    EXPECT_EQ(m_window.TimerStarts(kReplyTimerId), 2);
    EXPECT_TRUE(m_window.IsTimerRunning(kReplyTimerId));
}

TEST_F(DeviceLinkTest, RefusedFormDoesNotOpenAnExchangeWhileAnEarlierFrameWaits)
{
    Connect();
    m_deviceLink.OnMake();
    ASSERT_TRUE(m_build.m_bFrameReady);
    const std::size_t nSends = m_engine.m_sends.size();
    m_window.m_settings.m_eOutputMode = OutputMode::SectorData;
    m_window.m_settings.m_strKey = "123";  // refused
    m_deviceLink.OnMake();
    EXPECT_EQ(Messages(), std::vector<std::string>{"KEY length invalid."});
    EXPECT_EQ(m_engine.m_sends.size(), nSends);
    EXPECT_EQ(m_window.TimerStarts(kReplyTimerId), 1);
    // A stray ACK after the refusal sends no earlier card's frame: within
    // one connection (a card written before), and on a fresh connection
    // after a lost line.
    for (const bool bLost : {false, true}) {
        SCOPED_TRACE(bLost);
        m_deviceLink.OnClosePort();
        m_window.m_nConnected = 0;
        m_window.m_settings = CardSettings{};
        Connect();
        MakeUpToFrame();
        Feed({0x02, 0xAA, 0x00, 0x00, 0xAA, 0x03});
        if (bLost) {
            m_deviceLink.OnLineLost(1);
            m_deviceLink.OnClosePort();
            m_window.m_nConnected = 0;
            Connect();
        }
        m_window.m_settings.m_eOutputMode = OutputMode::SectorData;
        m_window.m_settings.m_strKey = "123";
        const std::size_t nBefore = m_engine.m_sends.size();
        // The ACK comes while the refusal's box is still open.
        m_window.m_onMessage = [&](const std::string&) {
            m_window.m_onMessage = nullptr;
            Feed({kAck});
        };
        m_deviceLink.OnMake();
        ASSERT_EQ(m_window.m_onMessage, nullptr);
        EXPECT_EQ(m_engine.m_sends.size(), nBefore);
    }
}

TEST_F(DeviceLinkTest, AckWithMakePendingButNothingEverStagedSendsNoFrame)
{
    m_deviceLink.OnMake();  // refused: the port is not open
    Connect();
    EXPECT_EQ(m_engine.m_sends, std::vector<Bytes>{Bytes{kStx}});  // only the probe
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    // Once a build has succeeded, the frame goes out as usual.
    MakeUpToFrame();
    EXPECT_EQ(m_engine.m_sends.back(), FrameBytes());
}

// ---- the search ----------------------------------------------------------

TEST_F(DeviceLinkTest, SearchSkipsPortsThatFailAndUsesTheLineSettings)
{
    m_engine.m_openable = {3, 7};
    m_deviceLink.OnOpenPort();
    EXPECT_EQ(m_engine.InitPorts(), (std::vector<unsigned>{1, 2, 3}));
    const FakePortEngine::InitCall& c = m_engine.m_inits.back();
    EXPECT_EQ(c.m_nBaud, 9600);
    EXPECT_EQ(c.m_cParity, 'N');
    EXPECT_EQ(c.m_nDataBits, 8);
    EXPECT_EQ(c.m_nStopBits, 1);
    EXPECT_EQ(c.m_dwEventMask, 3U);
    EXPECT_EQ(c.m_nSendBufferSize, 512);
    EXPECT_EQ(m_engine.m_nStartMonitor, 1);
    EXPECT_EQ(m_engine.m_sends, std::vector<Bytes>{Bytes{kStx}});
    EXPECT_TRUE(m_link.m_bProbeOutstanding);
    EXPECT_EQ(m_window.TimerPeriod(kProbeTimerId), 100);
    EXPECT_EQ(m_link.m_nNextPortToProbe, 4);
    EXPECT_FALSE(m_window.m_bPortOpen);
    EXPECT_EQ(m_window.m_nConnected, 0);

    Fire(kProbeTimerId);  // COM3 silent
    EXPECT_EQ(m_engine.InitPorts(), (std::vector<unsigned>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(m_engine.m_sends.size(), 2U);
    EXPECT_EQ(m_link.m_nNextPortToProbe, 8);

    Fire(kProbeTimerId);  // COM7 silent
    EXPECT_EQ(m_engine.InitPorts().size(), 10U);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Provin Generator Device not found."});
    EXPECT_EQ(m_window.m_messages[0].m_strCaption, "Warning");
    EXPECT_EQ(m_link.m_nNextPortToProbe, 1);
    EXPECT_FALSE(m_link.m_bProbeOutstanding);
    EXPECT_FALSE(m_window.IsTimerRunning(kProbeTimerId));

    m_deviceLink.OnOpenPort();  // the next search starts at COM1
    EXPECT_EQ(m_engine.m_inits[10].m_nPort, 1U);
}

TEST_F(DeviceLinkTest, NoPortAtAllGivesTheMessageAtOnceAndSendsNothing)
{
    m_deviceLink.OnOpenPort();
    EXPECT_EQ(m_engine.m_inits.size(), 10U);
    EXPECT_TRUE(m_engine.m_sends.empty());
    EXPECT_EQ(m_engine.m_nStartMonitor, 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Provin Generator Device not found."});
    EXPECT_EQ(m_link.m_nNextPortToProbe, 1);
    EXPECT_FALSE(m_window.IsTimerRunning(kProbeTimerId));
}

TEST_F(DeviceLinkTest, OpenPortDuringAnOutstandingProbeMovesOnAtOnce)
{
    m_engine.m_openable = {1, 2, 5};
    m_deviceLink.OnOpenPort();
    m_deviceLink.OnOpenPort();
    EXPECT_EQ(m_engine.InitPorts(), (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(m_window.TimerStarts(kProbeTimerId), 2);
    EXPECT_TRUE(m_link.m_bProbeOutstanding);
    Feed({kAck});  // COM2 answers
    EXPECT_EQ(m_window.m_nConnected, 1);
    EXPECT_EQ(m_link.m_nNextPortToProbe, 1);
}

TEST_F(DeviceLinkTest, OpenPortDuringTheLastProbeEndsTheSearchWithoutARestart)
{
    m_engine.m_openable = {9};
    m_deviceLink.OnOpenPort();
    ASSERT_TRUE(m_link.m_bProbeOutstanding);
    m_deviceLink.OnOpenPort();  // COM10 fails, and opening it closed COM9
    EXPECT_EQ(Messages(), std::vector<std::string>{"Provin Generator Device not found."});
    EXPECT_FALSE(m_link.m_bProbeOutstanding);
    EXPECT_FALSE(m_window.IsTimerRunning(kProbeTimerId));
    // An expiry already queued before the stop starts no new search.
    const std::size_t nInits = m_engine.m_inits.size();
    m_deviceLink.OnLinkTimer(kProbeTimerId);
    EXPECT_EQ(m_engine.m_inits.size(), nInits);
    EXPECT_EQ(m_window.m_messages.size(), 1U);
}

// The press comes during the probe on COM10: no port is left to open, so the
// search ends with its message, but COM10 stays open and its probe may still
// be answered in time. An answer connects; an expiry starts nothing new.
TEST_F(DeviceLinkTest, OpenPortDuringTheProbeOnCom10LetsThatProbeFinish)
{
    m_engine.m_openable = {10};
    for (const bool bAnswered : {true, false}) {
        m_deviceLink.OnOpenPort();
        ASSERT_EQ(m_engine.m_nOpenPort, 10U);
        const std::size_t nInits = m_engine.m_inits.size();
        const std::size_t nMessages = m_window.m_messages.size();
        m_deviceLink.OnOpenPort();
        EXPECT_EQ(m_engine.m_inits.size(), nInits);  // nothing was opened, so COM10 is still open
        EXPECT_EQ(Messages().back(), "Provin Generator Device not found.");
        EXPECT_TRUE(m_link.m_bProbeOutstanding);
        if (bAnswered) {
            Feed({kAck});
            EXPECT_EQ(m_window.m_nConnected, 1);
            EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
            m_deviceLink.OnClosePort();
        } else {
            Fire(kProbeTimerId);
            EXPECT_FALSE(m_link.m_bProbeOutstanding);
            EXPECT_EQ(m_engine.m_inits.size(), nInits);
            EXPECT_EQ(m_window.m_messages.size(), nMessages + 1);
            EXPECT_EQ(m_window.m_nConnected, 1);
        }
    }
}

// The engine may show its error box while it opens a port, and timers run
// inside it. The step that opens the port has already ended the wait of the
// probe it replaces, so that probe's expiry cannot run in there; and if a
// handler inside the box moves the search on, the outer step ends quietly.
TEST_F(DeviceLinkTest, ASearchStepStaysSoundWhenHandlersRunInsideTheEnginesBox)
{
    m_engine.m_openable = {1, 2, 3};
    m_deviceLink.OnOpenPort();
    ASSERT_TRUE(m_window.IsTimerRunning(kProbeTimerId));
    bool bTimerRanInBox = false;
    m_engine.m_onOpened = [&](unsigned portnr) {
        if (portnr == 2) {
            bTimerRanInBox = m_window.IsTimerRunning(kProbeTimerId) || m_link.m_bProbeOutstanding;
        }
    };
    m_deviceLink.OnOpenPort();  // pressed during COM1's probe
    EXPECT_FALSE(bTimerRanInBox);
    EXPECT_EQ(m_engine.m_nOpenPort, 2U);
    EXPECT_TRUE(m_link.m_bProbeOutstanding);

    // A step nested inside COM3's box ends the search; the outer step then
    // sends no probe on the port that the nested step has closed.
    m_engine.m_onOpened = [&](unsigned portnr) {
        if (portnr == 3) {
            m_engine.m_onOpened = nullptr;
            m_deviceLink.OnOpenPort();  // nothing left but COM4..10: not found
        }
    };
    m_engine.m_openable = {3};
    const std::size_t nSends = m_engine.m_sends.size();
    m_deviceLink.OnOpenPort();
    EXPECT_EQ(m_engine.m_sends.size(), nSends);
    EXPECT_FALSE(m_link.m_bProbeOutstanding);
    EXPECT_EQ(m_link.m_nNextPortToProbe, 1);
    EXPECT_EQ(Messages().back(), "Provin Generator Device not found.");
}

// Handlers run inside every box: each handler has recorded its outcome
// before its box opens, and nothing after the box undoes a nested handler.
TEST_F(DeviceLinkTest, EachBoxOpensOnAStateAlreadyRecorded)
{
    struct Seen {
        std::int32_t m_nParser;
        std::int32_t m_nPending;
        bool m_bFrameReady;
        std::int32_t m_nNextPort;
    };
    std::map<std::string, Seen> seen;
    m_window.m_onMessage = [&](const std::string& text) {
        seen[text] = {m_link.m_nParserState, m_link.m_nPendingOperation, m_build.m_bFrameReady,
                      m_link.m_nNextPortToProbe};
    };
    Connect();
    MakeUpToFrame();
    Feed({0x02, 0xAA, 0x01, 0x00, 0xAB, 0x03});
    MakeUpToFrame();
    Feed({0x02, 0xAA, 0x00, 0x00, 0xAA, 0x03});
    m_deviceLink.OnMake();
    Fire(kReplyTimerId);
    m_deviceLink.OnClosePort();
    m_engine.m_openable.clear();
    m_deviceLink.OnOpenPort();

    EXPECT_EQ(seen["Failure!"].m_nParser, ParserWaitAck);
    EXPECT_EQ(seen["Failure!"].m_nPending, PendingMake);
    EXPECT_EQ(seen["Success!"].m_nParser, ParserWaitAck);
    EXPECT_EQ(seen["Success!"].m_nPending, PendingNone);
    EXPECT_FALSE(seen["Communication Over time,please check the hardware."].m_bFrameReady);
    EXPECT_EQ(seen["Provin Generator Device not found."].m_nNextPort, 1);

    // A late ACK handled inside the time-out box sends the frame; nothing
    // after the box takes it back.
    m_engine.m_openable = {1};
    m_deviceLink.OnOpenPort();
    Feed({kAck});
    ASSERT_EQ(m_window.m_nConnected, 2);
    m_window.m_onMessage = [&](const std::string& text) {
        if (text == "Communication Over time,please check the hardware.") {
            Feed({kAck});
        }
    };
    m_deviceLink.OnMake();
    Fire(kReplyTimerId);
    EXPECT_EQ(m_engine.m_sends.back(), FrameBytes());
    EXPECT_EQ(m_link.m_nParserState, ParserWaitStx);
}

// A lost line: nothing waits on it any more. A probe on it gives way to the
// next port at once; a card in progress on it ends, whatever it waited for.
TEST_F(DeviceLinkTest, LostLineEndsWhatWaitedOnIt)
{
    // During the search: COM3 is lost while its probe waits, COM7 is next.
    m_engine.m_openable = {3, 7};
    m_deviceLink.OnOpenPort();
    m_deviceLink.OnLineLost(3);
    EXPECT_EQ(m_engine.InitPorts(), (std::vector<unsigned>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(m_engine.m_sends.size(), 2U);
    EXPECT_TRUE(m_link.m_bProbeOutstanding);
    EXPECT_TRUE(Messages().empty());
    // The last port lost after the search has already said "not found": no new search.
    m_deviceLink.OnOpenPort();
    ASSERT_EQ(Messages().size(), 1U);
    m_deviceLink.OnLineLost(7);
    EXPECT_EQ(m_engine.m_inits.size(), 10U);
    EXPECT_EQ(m_engine.m_nOpenPort, 0U);  // let go of at once
    EXPECT_FALSE(m_link.m_bProbeOutstanding);
    EXPECT_FALSE(m_window.IsTimerRunning(kProbeTimerId));
    EXPECT_EQ(Messages().size(), 1U);

    // Connected: idle, waiting for the ACK, in the middle of the reply. The
    // connection ends as ClosePort ends it, with no message of the link's.
    const std::vector<std::function<void()>> cards{
        [] {},
        [&] { m_deviceLink.OnMake(); },
        [&] {
            MakeUpToFrame();
            Feed({0x02, 0xAA});
        },
    };
    for (const auto& card : cards) {
        Connect(5);
        card();
        m_window.m_messages.clear();
        const int nDisconnected = m_window.m_nDisconnected;
        m_deviceLink.OnLineLost(5);
        EXPECT_FALSE(m_window.IsTimerRunning(kReplyTimerId));
        EXPECT_FALSE(m_build.m_bFrameReady);
        EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
        EXPECT_TRUE(Messages().empty());
        EXPECT_EQ(m_engine.m_nOpenPort, 0U);
        EXPECT_FALSE(m_window.IsPortOpen());
        EXPECT_EQ(m_window.m_nDisconnected, nDisconnected + 1);
        m_window.m_nConnected = 0;
    }
}

TEST_F(DeviceLinkTest, ClosePortLeavesParserPendingFlagsAndTimersAlone)
{
    Connect();
    MakeUpToFrame();
    Feed({0x02, 0xAA, 0x00});  // in the middle of the reply
    m_link.m_nNextPortToProbe = 6;
    m_link.m_bProbeOutstanding = true;
    m_window.StartTimer(kProbeTimerId, kProbeTimerMs);
    const LinkState before = m_link;
    const bool bFrameReady = m_build.m_bFrameReady;

    m_journal.m_entries.clear();
    m_deviceLink.OnClosePort();
    EXPECT_EQ(m_journal.m_entries, (std::vector<std::string>{"close", "port-open 0", "disconnected"}));
    EXPECT_FALSE(m_window.m_bPortOpen);
    EXPECT_EQ(m_link.m_nParserState, before.m_nParserState);
    EXPECT_EQ(m_link.m_nParserState, ParserLength);
    EXPECT_EQ(m_link.m_nPendingOperation, PendingMake);
    EXPECT_EQ(m_link.m_bStatusOk, before.m_bStatusOk);
    EXPECT_EQ(m_link.m_bProbeOutstanding, true);
    EXPECT_EQ(m_link.m_nNextPortToProbe, 6);
    EXPECT_EQ(m_link.m_nReadPos, before.m_nReadPos);
    EXPECT_EQ(m_link.m_nWritePos, before.m_nWritePos);
    EXPECT_EQ(m_build.m_bFrameReady, bFrameReady);
    EXPECT_TRUE(m_window.IsTimerRunning(kProbeTimerId));
}

// A reply cut off by a lost line never completes; a search the user starts
// afresh drops it, so the device can be found again. The next step of a
// running search does not.
TEST_F(DeviceLinkTest, AFreshSearchDropsAReplyCutOffInTheMiddle)
{
    Connect();
    MakeUpToFrame();
    Feed({0x02, 0xAA});
    m_deviceLink.OnClosePort();
    EXPECT_EQ(m_link.m_nParserState, ParserStatus);

    m_deviceLink.OnOpenPort();
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    EXPECT_FALSE(m_link.m_bStatusOk);
    EXPECT_FALSE(m_link.m_bCheckOk);
    m_journal.m_entries.clear();
    Feed({kAck});
    EXPECT_EQ(m_window.m_nConnected, 2);
    EXPECT_FALSE(m_link.m_bProbeOutstanding);
    // The connection drops the card that never finished.
    EXPECT_EQ(m_link.m_nPendingOperation, PendingNone);
    EXPECT_EQ(m_link.m_nParserState, ParserWaitAck);
    EXPECT_TRUE(Messages().empty());

    // The next step of a running search leaves the reader where it is.
    m_link.m_nParserState = ParserWaitStx;
    m_link.m_nNextPortToProbe = 3;
    m_deviceLink.OnOpenPort();
    EXPECT_EQ(m_link.m_nParserState, ParserWaitStx);
}

}  // namespace
}  // namespace varnis
