// varnis-cli make against the simulated device on a pseudo-terminal.
#include "cli/CliTestSupport.h"
#include "sim/SimDevice.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

namespace varnis::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kDefaultFrame = "AA 20 15 01 02 00 00 00 A5 C3 0F 7E 9B 12 40 00 28 08 AA 47 15 02 63 00 FB 03";
constexpr const char* kLockingQuestion =
    "Configuration will not be able to change after configuration locking enabled,are you sure to start the "
    "operation?";

class CliMake : public ::testing::Test {
protected:
    void StartDevice(const SimBehaviour& behaviour)
    {
        m_pty = PtyPair::Open();
        ASSERT_TRUE(m_pty.has_value());
        m_pDevice = std::make_unique<SimDevice>(m_pty->MasterFd(), behaviour);
        ASSERT_TRUE(m_pDevice->Start());
    }

    std::vector<std::string> MakeArgs(std::initializer_list<std::string> extra) const
    {
        std::vector<std::string> args{kCliPath, "make", "--port", m_pty->SlavePath()};
        args.insert(args.end(), extra);
        return args;
    }

    RunResult Make(std::initializer_list<std::string> extra, std::string_view input = {}) const
    {
        return RunProgram(MakeArgs(extra), input);
    }

    SimDevice& Device() { return *m_pDevice; }

    // Declared so that the device stops before its line goes.
    std::optional<PtyPair> m_pty;
    std::unique_ptr<SimDevice> m_pDevice;
};

TEST_F(CliMake, SucceedingDeviceWritesTheDefaultCard)
{
    StartDevice({});
    const RunResult result = Make({});
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strOut, "Success!\n");
    EXPECT_EQ(result.m_strErr, "varnis-cli: found on " + m_pty->SlavePath() + "\n");
    ASSERT_EQ(Device().ExchangeCount(), 1u);
    const SimExchange exchange = Device().Exchanges().front();
    EXPECT_TRUE(exchange.m_bValid) << exchange.m_strDescription;
    EXPECT_EQ(FrameText(exchange.m_frame), kDefaultFrame);
    EXPECT_TRUE(exchange.m_bReplySent);
}

TEST_F(CliMake, TheDeviceReceivesWhatFramePrints)
{
    StartDevice({});
    const std::initializer_list<std::string> settings{
        "--mode",     "sector", "--sector",    "7",   "--block", "2",
        "--start",    "1",      "--end",       "3",   "--key",   "00112233aabb",
        "--key-type", "b",      "--interface", "aba", "--aba",   "4H+2H to 10D",
        "--locking",  "on"};
    std::vector<std::string> frameArgs{"frame"};
    frameArgs.insert(frameArgs.end(), settings);
    const RunResult printed = RunCli(frameArgs);
    ASSERT_EQ(printed.m_nStatus, 0) << printed.m_strErr;

    std::vector<std::string> makeArgs = MakeArgs(settings);
    makeArgs.push_back("--yes");
    const RunResult made = RunProgram(makeArgs);
    EXPECT_EQ(made.m_nStatus, 0) << made.m_strErr;
    EXPECT_EQ(made.m_strOut, "Success!\n");
    EXPECT_EQ(made.m_strErr.find(kLockingQuestion), std::string::npos) << "--yes must not ask";
    ASSERT_EQ(Device().ExchangeCount(), 1u);
    EXPECT_EQ(FrameText(Device().Exchanges().front().m_frame) + "\n", printed.m_strOut);
}

// "Failure!" tells what the reply held: the device's status, or the byte
// that spoilt a reply whose status was success.
TEST_F(CliMake, FailingDevicesGiveFailureWithTheReplyAndExitOne)
{
    StartDevice({});
    SimBehaviour failing;
    failing.m_nResultStatus = 0x05;
    SimBehaviour badCheck;
    badCheck.m_eFault = SimFault::BadReplyCheck;
    const std::vector<std::pair<SimBehaviour, std::string>> cases{
        {failing, "Failure! (device status 0x05)\n"},
        {badCheck, "Failure! (device status 0x00, check byte 0x55)\n"},
    };
    std::size_t nExchanges = 0;
    for (const auto& [behaviour, line] : cases) {
        Device().SetBehaviour(behaviour);
        const RunResult result = Make({});
        EXPECT_EQ(result.m_nStatus, 1);
        EXPECT_EQ(result.m_strOut, line);
        EXPECT_EQ(Device().ExchangeCount(), ++nExchanges);
    }
}

// The search tells why it found nothing, also without the trace; the trace
// tells it as each probe goes unanswered.
TEST_F(CliMake, SilentDeviceIsNotFoundForWantOfAnAnswer)
{
    SimBehaviour silent;
    silent.m_eFault = SimFault::Silent;
    StartDevice(silent);
    const RunResult result = Make({});
    EXPECT_EQ(result.m_nStatus, 1);
    EXPECT_EQ(result.m_strOut, "");
    EXPECT_EQ(result.m_strErr, "Warning: Provin Generator Device not found.\nvarnis-cli: " + m_pty->SlavePath() +
                                   ": no answer within 100 ms\n");
    const RunResult traced = Make({"--trace"});
    EXPECT_NE(traced.m_strErr.find("COM1 (" + m_pty->SlavePath() + ") skipped: no answer within 100 ms\n"),
              std::string::npos)
        << traced.m_strErr;
    EXPECT_EQ(Device().ExchangeCount(), 0u);
}

// The device takes the frame and never tells its result: the window would
// wait for ever; the command line gives up after --reply-timeout.
TEST_F(CliMake, DeviceThatNeverRepliesEndsInAFailureLineOfItsOwn)
{
    SimBehaviour mute;
    mute.m_eFault = SimFault::NeverAnnounces;
    StartDevice(mute);
    const auto start = std::chrono::steady_clock::now();
    const RunResult result = Make({"--reply-timeout", "1500"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.m_nStatus, 1);
    EXPECT_EQ(result.m_strOut, "No result from the device within 1500 ms; the card was not confirmed.\n");
    EXPECT_EQ(Device().ExchangeCount(), 1u);
    EXPECT_GE(elapsed, 1500ms);
    EXPECT_LT(elapsed, 30s);
}

// A line that goes away ends the run at once at every phase: one line that
// names the port, exit status 1, and no time-out waited out.
TEST_F(CliMake, LostLineEndsTheRunAtOnceInOneLine)
{
    enum class Phase : std::uint8_t { Probe, AfterFrame, BetweenCards };
    for (const Phase ePhase : {Phase::Probe, Phase::AfterFrame, Phase::BetweenCards}) {
        SCOPED_TRACE(static_cast<int>(ePhase));
        m_pDevice.reset();
        SimBehaviour behaviour;
        behaviour.m_eFault = ePhase == Phase::AfterFrame ? SimFault::NeverAnnounces : SimFault::None;
        if (ePhase == Phase::Probe) {
            m_pty = PtyPair::Open();  // nobody answers: the test reads the probe itself
            ASSERT_TRUE(m_pty.has_value());
        } else {
            StartDevice(behaviour);
        }
        ChildProcess child;
        ASSERT_TRUE(child.Start(MakeArgs({"--reply-timeout", "20000", "--count", "2"})));
        if (ePhase == Phase::Probe) {
            pollfd master{m_pty->MasterFd(), POLLIN, 0};
            ASSERT_EQ(::poll(&master, 1, 10000), 1);
        } else if (ePhase == Phase::AfterFrame) {
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (Device().ExchangeCount() == 0 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(5ms);
            }
            ASSERT_EQ(Device().ExchangeCount(), 1u);
        } else {
            ASSERT_TRUE(child.WaitForError("(2 of 2)", 10s));
        }
        m_pDevice.reset();
        const auto pulled = std::chrono::steady_clock::now();
        m_pty->CloseMaster();
        const std::optional<int> status = child.Wait(10s);
        const auto elapsed = std::chrono::steady_clock::now() - pulled;
        EXPECT_EQ(status, std::optional<int>(1));
        EXPECT_LT(elapsed, 2s);  // 1 s with room for a loaded machine; the reply time-out is 20 s
        const std::string lost = "varnis-cli: the line to the device on " + m_pty->SlavePath() + " was lost\n";
        const std::string errors = child.Error();
        EXPECT_TRUE(errors.ends_with(lost)) << errors;
        EXPECT_EQ(errors.find("WARNING"), std::string::npos) << errors;
        EXPECT_EQ(child.Output(), ePhase == Phase::BetweenCards ? "Success!\n" : "");
    }
}

TEST_F(CliMake, CountThreeWritesThreeCards)
{
    StartDevice({});
    const RunResult result = Make({"--count", "3"}, "\n\n");
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strOut, "Success!\nSuccess!\nSuccess!\n");
    EXPECT_NE(result.m_strErr.find("(2 of 3)"), std::string::npos);
    EXPECT_NE(result.m_strErr.find("(3 of 3)"), std::string::npos);
    ASSERT_EQ(Device().ExchangeCount(), 3u);
    for (const SimExchange& exchange : Device().Exchanges()) {
        EXPECT_EQ(FrameText(exchange.m_frame), kDefaultFrame);
    }
}

TEST_F(CliMake, EndOfInputBetweenCardsStopsWithFailure)
{
    StartDevice({});
    const RunResult result = Make({"--count", "3"}, "\n");
    EXPECT_EQ(result.m_nStatus, 1);
    EXPECT_EQ(result.m_strOut, "Success!\nSuccess!\n");
    EXPECT_NE(result.m_strErr.find("2 of 3 cards written."), std::string::npos) << result.m_strErr;
    EXPECT_EQ(Device().ExchangeCount(), 2u);
}

// The reply timer's message, on the second card of a run, after the device
// went quiet. The run stops there.
TEST_F(CliMake, DeviceThatStopsAnsweringGivesTheTimeOutMessage)
{
    StartDevice({});
    ChildProcess child;
    ASSERT_TRUE(child.Start(MakeArgs({"--count", "2"})));
    ASSERT_TRUE(child.WaitForOutput("Success!", 30s)) << child.Error();
    ASSERT_TRUE(child.WaitForError("(2 of 2)", 30s)) << child.Error();
    SimBehaviour silent;
    silent.m_eFault = SimFault::Silent;
    Device().SetBehaviour(silent);
    child.WriteInput("\n");
    child.CloseInput();
    EXPECT_EQ(child.Wait(60s), 1);
    EXPECT_EQ(child.Output(), "Success!\nCommunication Over time,please check the hardware.\n");
    EXPECT_EQ(Device().ExchangeCount(), 1u);
}

TEST_F(CliMake, RefusedFormSendsNothingAndARefusedRangeNamesTheValues)
{
    StartDevice({});
    const RunResult result = Make({"--mode", "sector", "--start", "4", "--end", "9"});
    EXPECT_EQ(result.m_nStatus, 1);
    EXPECT_EQ(result.m_strOut, "");
    EXPECT_EQ(result.m_strErr,
              "Warning: Block address definition invalid.\nvarnis-cli: start address 4 and end address 9 given; the "
              "start must not be after the end, and at most five bytes are read (end at most start + 4)\n");
    EXPECT_FALSE(Device().WaitForExchanges(1, 300ms));
    EXPECT_EQ(Device().ProbesAnswered(), 0u);
}

// Each question make asks (locking; protection with the default password,
// however that password is given) is Cancel unless answered y or yes; an
// answer too long to be one is Cancel too, read no further than its cap.
TEST_F(CliMake, QuestionsNotConfirmedSendNothing)
{
    StartDevice({});
    const std::string defaultPasswordFile = ::testing::TempDir() + "cli-default-password";
    std::ofstream(defaultPasswordFile) << "47 15 02 63\n";
    const std::string protectionQuestion = "Warning: password protection is on with the default password 47150263";
    const std::vector<std::pair<std::vector<std::string>, std::string>> questions{
        {{"--locking", "on"}, kLockingQuestion},
        {{"--protection", "on"}, protectionQuestion},
        {{"--protection", "on", "--password-file", defaultPasswordFile}, protectionQuestion},
    };
    for (const auto& [args, question] : questions) {
        for (const std::string& answer :
             {std::string("n\n"), std::string(), std::string("ok\n"), std::string(5000, 'y') + "\n"}) {
            SCOPED_TRACE(args[0] + " " + answer.substr(0, 10));
            std::vector<std::string> all = MakeArgs({});
            all.insert(all.end(), args.begin(), args.end());
            const RunResult result = RunProgram(all, answer);
            EXPECT_EQ(result.m_nStatus, 1);
            EXPECT_EQ(result.m_strOut, "");
            EXPECT_NE(result.m_strErr.find(question), std::string::npos) << result.m_strErr;
            EXPECT_NE(result.m_strErr.find("not confirmed; nothing was sent."), std::string::npos) << result.m_strErr;
        }
    }
    // An endless answer ends at once as Cancel, its memory bounded by the cap.
    const RunResult zero = RunProgram(
        {"/bin/sh", "-c", "exec \"$0\" make --port \"$1\" --locking on </dev/zero", kCliPath, m_pty->SlavePath()}, {},
        10s);
    EXPECT_EQ(zero.m_nStatus, 1) << zero.m_strErr;
    EXPECT_NE(zero.m_strErr.find("configuration locking not confirmed"), std::string::npos) << zero.m_strErr;
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);  // kilobytes
    EXPECT_FALSE(Device().WaitForExchanges(1, 300ms));
    EXPECT_EQ(Device().ProbesAnswered(), 0u);
}

TEST_F(CliMake, ConfirmedQuestionsAreCarriedByTheFrame)
{
    StartDevice({});
    struct Case {
        std::vector<std::string> m_args;
        std::string m_strAnswer;
        std::size_t m_nQuestions;
    };
    const std::vector<Case> cases{
        {{"--locking", "on"}, "y\n", 1},
        {{"--locking", "on"}, " YES \n", 1},
        {{"--locking", "on", "--protection", "on"}, "y\ny\n", 2},
        {{"--locking", "on", "--protection", "on", "--yes"}, "", 0},
        {{"--locking", "on", "--protection", "on", "--password", "DEADBEEF"}, "y\n", 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = MakeArgs({});
        args.insert(args.end(), c.m_args.begin(), c.m_args.end());
        const RunResult result = RunProgram(args, c.m_strAnswer);
        EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
        EXPECT_EQ(result.m_strOut, "Success!\n");
        std::size_t nAsked = 0;
        for (std::size_t n = result.m_strErr.find("[y/N]"); n != std::string::npos;
             n = result.m_strErr.find("[y/N]", n + 1)) {
            ++nAsked;
        }
        EXPECT_EQ(nAsked, c.m_nQuestions) << result.m_strErr;
    }
    ASSERT_EQ(Device().ExchangeCount(), cases.size());
    for (const SimExchange& exchange : Device().Exchanges()) {
        ASSERT_EQ(exchange.m_frame.size(), 26u);
        EXPECT_EQ(exchange.m_frame[18], 0x5A);
    }
}

}  // namespace
}  // namespace varnis::test
