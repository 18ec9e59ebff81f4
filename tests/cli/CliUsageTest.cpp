// varnis-cli's command line: usage errors name what is wrong and exit 2.
#include "apps/cli/CliOptions.h"
#include "cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace varnis::test {
namespace {

struct UsageCase {
    std::vector<std::string> m_args;
    std::string m_strNamed;  // what the one-line message must name
};

TEST(CliUsage, BadOptionsAndValuesExitTwoWithOneLineNamingThem)
{
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
        {{"frame", "--mode", "sector", "--key", "A5C30F7E9B"}, "12 hexadecimal digits, least significant byte first"},
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

TEST(CliUsage, HelpDescribesBothCommands)
{
    for (const auto& args : {std::vector<std::string>{"--help"}, std::vector<std::string>{"make", "-h"}}) {
        const RunResult result = RunCli(args);
        EXPECT_EQ(result.m_nStatus, 0);
        EXPECT_NE(result.m_strOut.find("Usage: varnis-cli frame"), std::string::npos);
        EXPECT_NE(result.m_strOut.find("--reply-timeout"), std::string::npos);
    }
}

TEST(CliUsage, FormWordsAndCompactSpellingsGiveTheSameFrame)
{
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

// Keys and passwords as documents write them become the form's digits;
// anything else is refused with the one message that says what they are.
TEST(CliUsage, KeysAndPasswordsTakeTheCommonSpellingsOfTheirBytes)
{
    const std::string keyRule =
        "a key is 12 hexadecimal digits, least significant byte first, such as A5C30F7E9B12 or A5:C3:0F:7E:9B:12";
    const std::string passwordRule = "a password is 8 hexadecimal digits, such as 47150263 or 47 15 02 63";
    struct Case {
        std::string m_strOption;
        std::string m_strValue;
        std::string m_strDigits;  // empty: refused
    };
    const std::vector<Case> cases{
        {"--key", "A5C30F7E9B12", "A5C30F7E9B12"},
        {"--key", " a5 c3 0f\t7e  9b 12 ", "a5c30f7e9b12"},
        {"--key", "A5:C3:0F:7E:9B:12", "A5C30F7E9B12"},
        {"--key", "A5-C3-0F-7E-9B-12", "A5C30F7E9B12"},
        {"--key", "0xA5C30F7E9B12", "A5C30F7E9B12"},
        {"--key", "0XA5C3:0F7E:9B12", "A5C30F7E9B12"},
        {"--password", "47 15 02 63", "47150263"},
        {"--password", "0x47-15-02-63", "47150263"},
        {"--key", "A5C30F7E9B", ""},
        {"--key", "A5C30F7E9B1234", ""},
        {"--key", "A5C30F7E9B1G", ""},
        {"--key", "A5C:30F:7E9:B12", ""},
        {"--key", "A5::C3:0F:7E:9B:12", ""},
        {"--key", "A5 :C3:0F:7E:9B:12", ""},
        {"--key", ":A5C30F7E9B12", ""},
        {"--key", "A5C30F7E9B12-", ""},
        {"--key", "0x0xA5C30F7E9B12", ""},
        {"--key", "A5,C3,0F,7E,9B,12", ""},
        {"--key", "", ""},
        {"--password", "4715026", ""},
        {"--password", "47 15 02 63 00", ""},
        {"--password", "0x", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_strOption + " " + c.m_strValue);
        const std::vector<std::string_view> args{"frame", "--mode", "sector", c.m_strOption, c.m_strValue};
        cli::CliOptions options;
        std::string strError;
        const bool bParsed = cli::ParseCommandLine(args, options, strError);
        if (c.m_strDigits.empty()) {
            EXPECT_FALSE(bParsed);
            const std::string& rule = c.m_strOption == "--key" ? keyRule : passwordRule;
            EXPECT_EQ(strError,
                      "invalid value '" + cli::Printable(c.m_strValue) + "' for " + c.m_strOption + " (" + rule + ")");
        } else {
            ASSERT_TRUE(bParsed) << strError;
            const auto& digits = c.m_strOption == "--key" ? options.m_form.m_strKey : options.m_form.m_strPassword;
            EXPECT_EQ(digits, c.m_strDigits);
        }
    }
}

}  // namespace
}  // namespace varnis::test
