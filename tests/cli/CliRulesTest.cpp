// varnis-cli's rules for a production script: settings that do not count
// are refused, the option syntax, messages fit to print, lost output fails,
// and the form is checked before anything is asked or sent.
#include "cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace varnis::test {
namespace {

// One line on standard error and nothing else: no control character but its
// end, and short.
void ExpectOneCleanLine(const std::string& text)
{
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    EXPECT_TRUE(std::none_of(text.begin(), text.end() - 1, [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    })) << text;
    EXPECT_LT(text.size(), 260U) << text;
}

struct Refused {
    std::vector<std::string> m_args;
    std::vector<std::string> m_named;  // what the message must name
};

class CliRules : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_device.Start()); }
    DeviceOnPty m_device;
};

TEST_F(CliRules, SettingsWithoutEffectAndBadSyntaxAreUsageErrorsThatSendNothing)
{
    const std::string longWord(500, 'x');
    const std::vector<Refused> cases{
        // Settings that do not count under the mode, interface or timing.
        {{"--sector", "5"}, {"'--sector'", "--mode sector", "--mode uid"}},
        {{"--mode", "uid", "--block", "1"}, {"'--block'", "--mode sector"}},
        {{"--start", "1"}, {"'--start'", "--mode sector"}},
        {{"--end", "3"}, {"'--end'", "--mode sector"}},
        {{"--order", "msb"}, {"'--order'", "--mode sector"}},
        {{"--key-type", "b"}, {"'--key-type'", "--mode sector"}},
        {{"--key", "00112233AABB"}, {"'--key'", "--mode sector"}},
        {{"--aba", "6h-10d"}, {"'--aba'", "--interface aba", "--interface wiegand"}},
        {{"--interface", "wiegand", "--aba", "8H to 10D"}, {"'--aba'", "--interface aba"}},
        {{"--interface", "aba", "--wiegand", "26"}, {"'--wiegand'", "--interface wiegand"}},
        {{"--interface", "aba", "--timing", "user"}, {"'--timing'", "--interface wiegand"}},
        {{"--interface", "aba", "--interval", "10"}, {"'--interval'", "--interface wiegand"}},
        {{"--width", "10"}, {"'--width'", "--timing user"}},
        {{"--timing", "default", "--interval", "10"}, {"'--interval'", "--timing user"}},
        // A value is never the next option, and "--" ends the options.
        {{"--key", "--mode", "sector"}, {"'--key' needs a value"}},
        {{"--mode", "--"}, {"'--mode' needs a value"}},
        {{"--", "--mode", "sector"}, {"'--mode'"}},
        // Raw bytes are escaped and long values cut.
        {{"--mode", "a\x1b[31mred\nnext"}, {"\\x1B[31mred\\nnext", "--mode"}},
        {{"--" + longWord}, {"xxx...", "unknown option"}},
        {{"--interface", "ab\xff\x01"}, {"ab\\xFF\\x01"}},
        {{"--count", longWord}, {"--count", "..."}},
    };
    for (const auto& c : cases) {
        const RunResult result = m_device.Make(c.m_args);
        SCOPED_TRACE(c.m_named.front());
        EXPECT_EQ(result.m_nStatus, 2);
        EXPECT_EQ(result.m_strOut, "");
        ExpectOneCleanLine(result.m_strErr);
        for (const std::string& named : c.m_named) {
            EXPECT_NE(result.m_strErr.find(named), std::string::npos) << result.m_strErr;
        }
    }
    m_device.ExpectNothingSentBefore();
}

TEST_F(CliRules, TheFormIsCheckedBeforeTheLockingQuestion)
{
    const RunResult result = m_device.Make({"--timing", "user", "--width", "0", "--locking", "on"}, "y\n");
    EXPECT_EQ(result.m_nStatus, 1);
    EXPECT_EQ(result.m_strOut, "");
    EXPECT_EQ(result.m_strErr, "Warning: Impulse parameter definition invalid.\n");
    m_device.ExpectNothingSentBefore();
}

// A result that cannot be written is a failure, and no further card is made
// whose result nobody would see.
TEST_F(CliRules, LostOutputIsAFailure)
{
    const auto toFull = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", kCliPath});
        return RunProgram(args, "\n\n");
    };
    const std::string lost = "varnis-cli: cannot write to standard output: No space left on device\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"frame"}, {"--help"}, {"--version"}, {"ports", "--port", m_device.Path()}}) {
        const RunResult result = toFull(args);
        SCOPED_TRACE(args.front());
        EXPECT_EQ(result.m_nStatus, 1);
        EXPECT_EQ(result.m_strErr, lost);
    }
    m_device.ExpectNothingSentBefore();
    // The device must answer the search's probe within its 100 ms: a run
    // that lost that race under load found nothing and is repeated.
    RunResult made;
    for (int nTry = 0; nTry < 5 && m_device.Device().ExchangeCount() == 0; ++nTry) {
        made = toFull({"make", "--port", m_device.Path(), "--count", "3"});
    }
    EXPECT_EQ(made.m_nStatus, 1);
    EXPECT_EQ(made.m_strErr.substr(made.m_strErr.rfind("varnis-cli:")), lost) << made.m_strErr;
    EXPECT_EQ(m_device.Device().ExchangeCount(), 1U);
}

TEST(CliSyntax, LabelsBlanksAndTheEndOfOptionsGiveTheSameFrame)
{
    const auto frame = [](std::vector<std::string> args) {
        const RunResult r = RunCli(args);
        EXPECT_EQ(r.m_nStatus, 0) << r.m_strErr;
        return r.m_strOut;
    };
    const std::string defaults = frame({"frame"});
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> pairs{
        {{"frame", "--mode", "Mode1", "--key-type", "KEY B", "--order", "Most Significant Byte first"},
         {"frame", "--mode", "sector", "--key-type", "b", "--order", "msb"}},
        {{"frame", "--mode", "Mode1\xEF\xBC\x9AOutput sector data after KEY checking", "--sector", " 5 ", "--end=\t3"},
         {"frame", "--mode", "sector", "--sector", "5", "--end", "3"}},
        {{"frame", "--wiegand", "WIEGAND 34 bits", "--timing", "User-defined", "--width", " 100 ", "--interval=7\t"},
         {"frame", "--wiegand", "34", "--timing", "user", "--width", "100", "--interval", "7"}},
        {{"frame", "--protection", "Enable", "--locking", "Enable"},
         {"frame", "--protection", "on", "--locking", "on"}},
        {{"frame", "--interface", "ABA", "--aba", "4H+2H to 8D"}, {"frame", "--interface", "aba", "--aba", "4h+2h-8d"}},
        {{"--", "frame"}, {"frame"}},
    };
    for (const auto& [labels, words] : pairs) {
        SCOPED_TRACE(labels[2 % labels.size()]);
        const std::string byLabel = frame(labels);
        EXPECT_EQ(byLabel, frame(words));
        if (labels.size() > 2) {
            EXPECT_NE(byLabel, defaults);
        }
    }
}

TEST(CliSyntax, VersionIsTheProjectsAndHelpTellsTheKeyOrderAndTheByteRange)
{
    for (const auto& args : {std::vector<std::string>{"--version"}, std::vector<std::string>{"make", "--version"}}) {
        const RunResult result = RunCli(args);
        EXPECT_EQ(result.m_nStatus, 0);
        EXPECT_EQ(result.m_strOut, std::string("varnis-cli ") + VARNIS_VERSION + "\n");
    }
    const RunResult help = RunCli({"--help"});
    for (const char* pszTold : {"least significant byte first", "varnis-cli ports",
                                "the start must not be after the end", "at most five bytes"}) {
        EXPECT_NE(help.m_strOut.find(pszTold), std::string::npos) << pszTold;
    }
}

}  // namespace
}  // namespace varnis::test
