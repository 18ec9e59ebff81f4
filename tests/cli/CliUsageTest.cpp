// varnis-cli's command line: usage errors name what is wrong and exit 2.
#include "cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace varnis::test {
namespace {

struct UsageCase {
    std::vector<std::string> m_args;
    std::string m_strNamed;  // what the one-line message must name
};

TEST(CliUsage, BadOptionsAndValuesExitTwoWithOneLineNamingThem) {
    const std::vector<UsageCase> cases{
        {{"frame", "--colour", "red"}, "--colour"},
        {{"make", "-x"}, "-x"},
        {{"frame", "--sector", "16"}, "--sector"},
        {{"frame", "--block", "4"}, "--block"},
        {{"frame", "--start", "14"}, "--start"},
        {{"frame", "--end", "16"}, "--end"},
        {{"frame", "--sector", "-1"}, "--sector"},
        {{"frame", "--sector", "2x"}, "2x"},
        {{"frame", "--mode", "banana"}, "banana"},
        {{"frame", "--interface", "rs232"}, "--interface"},
        {{"frame", "--wiegand", "32"}, "--wiegand"},
        {{"frame", "--aba", "8H to 11D"}, "--aba"},
        {{"frame", "--order", "middle"}, "--order"},
        {{"frame", "--key-type", "c"}, "--key-type"},
        {{"frame", "--locking", "maybe"}, "--locking"},
        {{"frame", "--protection=yes"}, "--protection"},
        {{"frame", "--key", "A5C30F7E9B123"}, "--key"},
        {{"frame", "--password", "471502630"}, "--password"},
        {{"frame", "--timing", "user", "--width", "1000"}, "--width"},
        {{"frame", "--width", "10"}, "--width"},
        {{"frame", "--timing", "default", "--interval", "10"}, "--interval"},
        {{"frame", "--sector"}, "--sector"},
        {{"frame", "--port", "/dev/null"}, "--port"},
        {{"frame", "--count", "2"}, "--count"},
        {{"make", "--count", "0"}, "--count"},
        {{"make", "--port", "COM11"}, "--port"},
        {{"make", "--reply-timeout", "soon"}, "--reply-timeout"},
        {{"make", "--yes=1"}, "--yes"},
        {{"bake"}, "bake"},
        {{"frame", "make"}, "make"},
        {{}, "command"},
    };
    for (const auto& c : cases) {
        const RunResult result = RunCli(c.m_args);
        SCOPED_TRACE(c.m_strNamed);
        EXPECT_EQ(result.m_nStatus, 2);
        EXPECT_EQ(result.m_strOut, "");
        EXPECT_EQ(std::count(result.m_strErr.begin(), result.m_strErr.end(), '\n'), 1) << result.m_strErr;
        EXPECT_NE(result.m_strErr.find(c.m_strNamed), std::string::npos) << result.m_strErr;
    }
}

TEST(CliUsage, HelpDescribesBothCommands) {
    for (const auto& args : {std::vector<std::string>{"--help"}, std::vector<std::string>{"make", "-h"}}) {
        const RunResult result = RunCli(args);
        EXPECT_EQ(result.m_nStatus, 0);
        EXPECT_NE(result.m_strOut.find("Usage: varnis-cli frame"), std::string::npos);
        EXPECT_NE(result.m_strOut.find("--reply-timeout"), std::string::npos);
    }
}

TEST(CliUsage, FormWordsAndCompactSpellingsGiveTheSameFrame) {
    const auto frame = [](std::vector<std::string> args) {
        args.insert(args.begin(), "frame");
        const RunResult r = RunCli(args);
        EXPECT_EQ(r.m_nStatus, 0) << r.m_strErr;
        return r.m_strOut;
    };
    EXPECT_EQ(frame({"--interface", "aba", "--aba", "6H to 10D"}), frame({"--interface=ABA", "--aba=6h-10d"}));
    EXPECT_EQ(frame({"--mode", "sector", "--key-type", "b"}), frame({"--mode=SECTOR", "--key-type", "KEY B"}));
    // The last of a repeated option counts.
    EXPECT_EQ(frame({"--wiegand", "26", "--wiegand", "42"}), frame({"--wiegand", "42"}));
}

}  // namespace
}  // namespace varnis::test
