// varnis-cli frame: the frame printed is the one the window's build makes.
#include "cli/CliTestSupport.h"
#include "config/ChoiceRules.h"

#include <gtest/gtest.h>


namespace varnis::test {
namespace {

std::vector<std::string> Args(std::initializer_list<std::string> rest)
{
    std::vector<std::string> args{"frame"};
    args.insert(args.end(), rest);
    return args;
}

// The frame the CLI printed, as one line without its end.
std::string PrintedFrame(const RunResult& result)
{
    EXPECT_EQ(result.m_nStatus, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strErr, "");
    std::string out = result.m_strOut;
    EXPECT_TRUE(!out.empty() && out.back() == '\n') << out;
    if (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    EXPECT_EQ(out.find('\n'), std::string::npos) << out;
    return out;
}

constexpr const char* kDefaultFrame = "AA 20 15 01 02 00 00 00 A5 C3 0F 7E 9B 12 40 00 28 08 AA 47 15 02 63 00 FB 03";

TEST(CliFrame, WorkedExamplesByHand)
{
    EXPECT_EQ(PrintedFrame(RunCli({"frame"})), kDefaultFrame);
    EXPECT_EQ(PrintedFrame(
                  RunCli(Args({"--mode", "sector",    "--sector",   "2",  "--block",      "1",   "--start",     "2",
                               "--end",  "6",         "--key-type", "b",  "--order",      "msb", "--interface", "aba",
                               "--aba",  "6H to 10D", "--locking",  "on", "--protection", "on"}))),
              "AA 20 15 FE 16 02 09 01 A5 C3 0F 7E 9B 12 62 01 28 08 5A 47 15 02 63 01 C8 03");
}

struct FrameCase {
    const char* m_pName;
    std::vector<std::string> m_args;
    std::function<void(CardSettings&, SettingsBlock&)> m_clicks;
};

TEST(CliFrame, MatchesTheWindowsBuildForTheSameForm)
{
    const std::vector<FrameCase> cases{
        {"wiegand 34 with user timing",
         {"--wiegand", "34", "--timing", "user", "--width", "100", "--interval", "20"},
         [](CardSettings& s, SettingsBlock& b) {
             ChooseWiegandLength(s, b, WiegandLength::Bits34);
             ChooseImpulseTiming(s, b, ImpulseTiming::UserDefined);
             s.m_strImpulseWidth = "100";
             s.m_strImpulseInterval = "20";
         }},
        {"aba with a format of its own",
         {"--interface", "aba", "--aba", "4H+2H to 8D"},
         [](CardSettings& s, SettingsBlock& b) {
             ChooseInterface(s, b, InterfaceKind::Aba);
             ChooseAbaFormat(s, b, AbaFormat::H4H2ToD8);
         }},
        {"sector data at the top of the lists, lower-case key, password protected",
         {"--mode",       "sector", "--sector", "15",    "--block",      "3",          "--start",
          "13",           "--end",  "15",       "--key", "a1b2c3d4e5f6", "--password", "DEADBEEF",
          "--protection", "on",     "--order",  "lsb",   "--key-type",   "a"},
         [](CardSettings& s, SettingsBlock& b) {
             ChooseOutputMode(s, b, OutputMode::SectorData);
             s.m_nSector = 15;
             s.m_nBlock = 3;
             s.m_nStartAddress = 13;
             s.m_nEndAddress = 15;
             s.m_strKey = "a1b2c3d4e5f6";
             s.m_strPassword = "DEADBEEF";
             ChoosePasswordProtection(s, b, true);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_pName);
        const ConfigurationFrame expected = WindowFrame(c.m_clicks);
        ASSERT_EQ(expected[0], kFrameStart) << "the window's build refused the form";
        auto args = Args({});
        args.insert(args.end(), c.m_args.begin(), c.m_args.end());
        EXPECT_EQ(PrintedFrame(RunCli(args)), FrameText(expected));
    }
}

// Locking is for good: only the words that mean it lock, and "off" in any
// spelling is the default frame.
TEST(CliFrame, LockingIsCarriedByTheFrameOnlyWhenAskedFor)
{
    const std::string defaults = PrintedFrame(RunCli(Args({})));
    const std::vector<std::pair<std::string, const char*>> cases{
        {"on", "5A"}, {"Enable", "5A"}, {"off", nullptr}, {"Disable", nullptr}, {"disable", nullptr}};
    for (const auto& [word, pszLockByte] : cases) {
        SCOPED_TRACE(word);
        const std::string frame = PrintedFrame(RunCli(Args({"--locking", word})));
        if (pszLockByte != nullptr) {
            EXPECT_EQ(frame.substr(18 * 3, 2), pszLockByte) << frame;
        } else {
            EXPECT_EQ(frame, defaults);
        }
    }
}

struct Refusal {
    std::vector<std::string> m_args;
    std::string m_strLine;  // all that standard error holds, without its last line end
};

TEST(CliFrame, ARefusedFormPrintsTheFirstMessageAndNoFrame)
{
    // A refused range names the values given on a second line.
    const auto range = [](int nStart, int nEnd) {
        return "Warning: Block address definition invalid.\nvarnis-cli: start address " + std::to_string(nStart) +
               " and end address " + std::to_string(nEnd) +
               " given; the start must not be after the end, and at most five bytes are read (end at most start + 4)";
    };
    const std::vector<Refusal> refusals{
        {{"--mode", "sector", "--start", "4", "--end", "9"}, range(4, 9)},
        {{"--mode", "sector", "--start", "5", "--end", "4"}, range(5, 4)},
        {{"--timing", "user", "--width", "0"}, "Warning: Impulse parameter definition invalid."},
        {{"--timing", "user", "--interval", "256"}, "Warning: Impulse parameter definition invalid."},
        {{"--timing", "user", "--interval", ""}, "Warning: Impulse parameter definition invalid."},
        {{"--timing", "user", "--width", "1 0"}, "Warning: Impulse parameter definition invalid."},
        // Several faults: only the first check in the build's order speaks.
        {{"--mode", "sector", "--start", "5", "--end", "4", "--timing", "user", "--width", "0"}, range(5, 4)},
    };
    for (const auto& r : refusals) {
        auto args = Args({});
        args.insert(args.end(), r.m_args.begin(), r.m_args.end());
        const RunResult result = RunCli(args);
        SCOPED_TRACE(r.m_strLine);
        EXPECT_EQ(result.m_nStatus, 1);
        EXPECT_EQ(result.m_strOut, "");
        EXPECT_EQ(result.m_strErr, r.m_strLine + "\n");
    }
}

TEST(CliFrame, RangeAndImpulseLimitsThatAreAccepted)
{
    const std::string range = PrintedFrame(RunCli(Args({"--mode", "sector", "--start", "4", "--end", "8"})));
    EXPECT_EQ(range.substr(14 * 3, 2), "84") << range;
    const std::string timing = PrintedFrame(RunCli(Args({"--timing", "user", "--width", "255", "--interval", "1"})));
    EXPECT_EQ(timing.substr(16 * 3, 5), "01 FF") << timing;
}

}  // namespace
}  // namespace varnis::test
