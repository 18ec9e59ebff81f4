// varnis-cli's command line: usage errors name what is wrong and exit 2.
#include "apps/cli/CliOptions.h"
#include "apps/cli/CliSecrets.h"
#include "cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>

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
// anything else is refused with what is wrong with it, never the value.
TEST(CliUsage, KeysAndPasswordsTakeTheCommonSpellingsOfTheirBytes)
{
    struct Case {
        std::string m_strOption;
        std::string m_strValue;
        std::string m_strDigits;  // refused: why
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
        {"--key", "A5C30F7E9B", "10 hexadecimal digits"},
        {"--key", "A5C30F7E9B1234", "14 hexadecimal digits"},
        {"--key", "A5C30F7E9B1G", "character 12 is not a hexadecimal digit"},
        {"--key", "A5C:30F:7E9:B12", "the separator at character 4 does not stand between two byte pairs"},
        {"--key", "A5::C3:0F:7E:9B:12", "the separator at character 4 does not stand between two byte pairs"},
        {"--key", "A5 :C3:0F:7E:9B:12", "the separator at character 4 does not stand between two byte pairs"},
        {"--key", ":A5C30F7E9B12", "the separator at character 1 does not stand between two byte pairs"},
        {"--key", "A5C30F7E9B12-", "the value ends in a separator"},
        {"--key", " 0x0xA5C30F7E9B12", "character 5 is not a hexadecimal digit"},
        {"--key", "A5,C3,0F,7E,9B,12", "character 3 is not a hexadecimal digit"},
        {"--key",
         "\xC3\xA9"
         "A5C30F7E9B12",
         "character 1 is not a hexadecimal digit"},
        {"--key",
         "A5C30F7E9B\xC3\xA9"
         "2",
         "character 11 is not a hexadecimal digit"},
        {"--key", "", "no hexadecimal digits"},
        {"--password", "4715026", "7 hexadecimal digits"},
        {"--password", "47 15 02 63 00", "10 hexadecimal digits"},
        {"--password", "0x", "0 hexadecimal digits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_strOption + " " + c.m_strValue);
        const std::vector<std::string_view> args{"frame", "--mode", "sector", c.m_strOption, c.m_strValue};
        cli::CliOptions options;
        std::string strError;
        const bool bParsed = cli::ParseCommandLine(args, options, strError);
        const auto& digits = c.m_strOption == "--key" ? options.m_form.m_strKey : options.m_form.m_strPassword;
        if (bParsed) {
            EXPECT_EQ(digits, c.m_strDigits);
            continue;
        }
        const std::string_view rule = c.m_strOption == "--key" ? kKeyRule : kPasswordRule;
        EXPECT_EQ(strError,
                  "invalid value for " + c.m_strOption + ": " + c.m_strDigits + " (" + std::string(rule) + ")");
    }
}

// The key and the password from a file or standard input: one line, read
// before any question; what the file holds is never shown, whatever is wrong.
TEST(CliUsage, KeyAndPasswordFiles)
{
    const std::string dir = ::testing::TempDir();
    const auto file = [&dir](const std::string& name, const std::string& text) {
        std::ofstream(dir + name, std::ios::binary) << text;
        return dir + name;
    };
    const std::string key = file("cli-key", "00 11 22 33 44 AB\r\n");
    const std::string password = file("cli-password", "DEADBEEF");
    const std::string twoLines = file("cli-two-lines", "001122334455\n\n");
    const std::string shortKey = file("cli-short-key", "0011223344\n");
    const std::string badKey = file("cli-bad-key", "0011223344ZZ\n");
    const std::string empty = file("cli-empty", "");
    const std::string frame =
        RunCli({"frame", "--mode", "sector", "--key", "0011223344AB", "--password", "DEADBEEF"}).m_strOut;
    ASSERT_FALSE(frame.empty());
    struct Case {
        std::vector<std::string> m_args;
        std::string m_strInput;
        std::string m_strError;  // empty: the frame above
    };
    const std::vector<Case> cases{
        {{"--key-file", key, "--password-file", password}, "", ""},
        {{"--key-file", "-", "--password-file", password}, "0011223344ab\n", ""},
        {{"--key-file", key, "--password-file", "-"}, " de ad be ef ", ""},
        {{"--key-file", dir + "cli-missing", "--password-file", password}, "", "No such file or directory"},
        {{"--key-file", twoLines}, "", "it holds more than one line"},
        {{"--key-file", empty}, "", "it is empty"},
        {{"--key-file", dir}, "", "cannot"},
        {{"--key-file", "-"}, "", "standard input holds no line"},
        {{"--key-file", "-"}, std::string(2000, '1'), "longer than 1024 bytes"},
        {{"--key-file", shortKey}, "", "invalid value in --key-file '" + shortKey + "': 10 hexadecimal digits"},
        {{"--key-file", badKey}, "", "character 11 is not a hexadecimal digit"},
        {{"--key-file", "-", "--password-file", "-"}, "", "only one of --key-file and --password-file"},
        {{"--key-file", key, "--key", "001122334455"}, "", "exclude each other"},
        {{"--mode", "uid", "--key-file", key}, "", "'--key-file' needs --mode sector"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_args[1]);
        std::vector<std::string> args{"frame"};
        if (c.m_args[0] != "--mode") {
            args.insert(args.end(), {"--mode", "sector"});
        }
        args.insert(args.end(), c.m_args.begin(), c.m_args.end());
        const RunResult result = RunCli(args, c.m_strInput);
        if (c.m_strError.empty()) {
            EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
            EXPECT_EQ(result.m_strOut, frame);
            continue;
        }
        EXPECT_EQ(result.m_nStatus, 2);
        EXPECT_EQ(std::count(result.m_strErr.begin(), result.m_strErr.end(), '\n'), 1) << result.m_strErr;
        EXPECT_NE(result.m_strErr.find(c.m_strError), std::string::npos) << result.m_strErr;
        for (const std::string_view secret : {"0011223344", "1111111111"}) {
            EXPECT_EQ(result.m_strErr.find(secret), std::string::npos) << result.m_strErr;
        }
    }
}

// Another user's process list shows the file's name, not the key: a child
// dropped to an unprivileged user reads the command line of a make that
// waits at its question (a key given directly shows there).
TEST(CliUsage, AnotherUsersProcessListShowsNoKeyFromAFile)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop to another user";
    }
    const std::string key = ::testing::TempDir() + "cli-listed-key";
    std::ofstream(key) << "A1B2C3D4E5F6\n";
    for (const bool bFromFile : {true, false}) {
        ChildProcess make;
        ASSERT_TRUE(make.Start({kCliPath, "make", "--port", "/dev/null", "--mode", "sector", "--locking", "on",
                                bFromFile ? "--key-file" : "--key", bFromFile ? key : "A1B2C3D4E5F6"}));
        ASSERT_TRUE(make.WaitForError("[y/N]", std::chrono::seconds(30))) << make.Error();
        const RunResult listed =
            RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "ps", "-eo", "args"});
        EXPECT_EQ(listed.m_nStatus, 0) << listed.m_strErr;
        EXPECT_NE(listed.m_strOut.find(kCliPath + " make --port /dev/null"), std::string::npos);
        EXPECT_EQ(listed.m_strOut.find("A1B2C3D4E5F6") != std::string::npos, !bFromFile) << listed.m_strOut;
        make.CloseInput();
        EXPECT_EQ(make.Wait(std::chrono::seconds(30)), 1);
    }
}

}  // namespace
}  // namespace varnis::test
