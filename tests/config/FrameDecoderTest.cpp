#include "config/ChoiceRules.h"
#include "config/FrameDecoder.h"
#include "config/SettingsBuild.h"
#include "config/FakeBuildForm.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace varnis {
namespace {

using test::FakeBuildForm;

struct Built {
    FakeBuildForm form;
    BuildState state;
    std::vector<std::uint8_t> Frame() const
    {
        const ConfigurationFrame frame = AssembleConfigurationFrame(state);
        return {frame.begin(), frame.end()};
    }
};

// The default UID block, or the worked sector-data/ABA example.
SettingsBlock ExampleBlock(bool bSectorData, Built& b)
{
    CardSettings& s = b.form.m_settings;
    SettingsBlock& block = b.state.m_settingsBlock;
    ApplyConnectionDefaults(s, block);
    if (bSectorData) {
        test::ChooseSectorDataExample(b.form, block);
    }
    EXPECT_TRUE(BuildSettingsBlock(b.form, b.state));
    return b.state.m_stagedBlock;
}
SettingsBlock ExampleBlock(bool bSectorData)
{
    Built b;
    return ExampleBlock(bSectorData, b);
}

TEST(DecodeFrame, ReplyFramesAndTheEncoder)
{
    const std::vector<std::uint8_t> ok{0xAA, 0x00, 0x00, 0xAA, 0x03};
    EXPECT_EQ(EncodeFrame(0x00, {}), ok);
    DecodedFrame frame;
    std::string reason;
    ASSERT_TRUE(DecodeFrame(ok, frame, reason)) << reason;
    EXPECT_EQ(frame.m_nCommand, 0x00);
    EXPECT_TRUE(frame.m_data.empty());
    const std::vector<std::uint8_t> data{0x10, 0x20, 0x30};
    ASSERT_TRUE(DecodeFrame(EncodeFrame(0x7F, data), frame, reason)) << reason;
    EXPECT_EQ(frame.m_nCommand, 0x7F);
    EXPECT_EQ(frame.m_data, data);
    EXPECT_TRUE(EncodeFrame(0x01, std::vector<std::uint8_t>(256)).empty());
}

TEST(DecodeFrame, RejectsEveryTruncationAndEveryBrokenPart)
{
    Built built;
    ExampleBlock(false, built);
    const std::vector<std::uint8_t> good = built.Frame();
    DecodedFrame frame;
    DecodedConfiguration config;
    std::string reason;
    ASSERT_TRUE(DecodeConfigurationFrame(good, config, reason)) << reason;
    for (std::size_t n = 0; n < good.size(); ++n) {
        // Exactly n bytes on the heap: a read past them is caught by the sanitizer builds.
        const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        reason.clear();
        EXPECT_FALSE(DecodeConfigurationFrame(cut, config, reason)) << n;
        EXPECT_FALSE(reason.empty()) << n;
    }
    auto rejects = [&](std::size_t index, std::uint8_t value, std::string_view word) {
        std::vector<std::uint8_t> bad = good;
        if (index < bad.size()) {
            bad[index] = value;
        } else {
            bad.push_back(value);
        }
        reason.clear();
        EXPECT_FALSE(DecodeFrame(bad, frame, reason)) << index;
        EXPECT_NE(reason.find(word), std::string::npos) << reason;
    };
    rejects(0, 0xAB, "start");
    rejects(25, 0x04, "end");
    rejects(24, good[24] ^ 0x01, "check");
    rejects(10, good[10] ^ 0x40, "check");  // a data byte changed
    rejects(2, 0x14, "length");             // one byte too many for the length
    rejects(2, 0x16, "truncated");          // one byte too few
    rejects(26, 0x00, "length");            // a trailing byte
    EXPECT_FALSE(DecodeFrame(std::vector<std::uint8_t>{0xAA, 0x20, 0xFF, 0x00}, frame, reason));
}

TEST(DecodeConfigurationFrame, RejectsUnknownCodesInAWellFormedFrame)
{
    // {byte, value, sector data}: codes, zero impulse timing, and for sector
    // data a place on the card and a byte range that make sense.
    const std::vector<std::tuple<std::size_t, std::uint8_t, bool>> cases{
        {0, 0x00, false},  {0, 0x02, false},  {1, 0x00, false},  {1, 0x03, false},  {1, 0x17, false},  {4, 0x02, false},
        {12, 0x02, false}, {15, 0x5B, false}, {20, 0x02, false}, {13, 0x00, false}, {14, 0x00, false}, {2, 16, true},
        {3, 12, true},     {3, 64, true},     {11, 0x72, true},  {11, 0x26, true}};
    for (const auto& [index, value, bSectorData] : cases) {
        SettingsBlock block = ExampleBlock(bSectorData);
        block[index] = value;
        DecodedConfiguration config;
        std::string reason;
        EXPECT_FALSE(DecodeConfigurationFrame(EncodeFrame(0x20, block), config, reason)) << index;
        EXPECT_FALSE(reason.empty());
    }
    DecodedConfiguration config;
    std::string reason;
    EXPECT_FALSE(DecodeConfigurationFrame(EncodeFrame(0x21, ExampleBlock(false)), config, reason));
    EXPECT_NE(reason.find("command"), std::string::npos) << reason;
    const SettingsBlock b = ExampleBlock(false);
    EXPECT_FALSE(DecodeConfigurationFrame(EncodeFrame(0x20, std::span(b).first(20)), config, reason));
    EXPECT_NE(reason.find("20 data bytes"), std::string::npos) << reason;
}

// Settings made through the choices, in any order, and a form come back from the frame.
TEST(DecodeConfigurationFrame, RoundTripOverManySettings)
{
    std::mt19937 rng(2024);
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    auto hexText = [&](int nChars) {
        std::string text;
        for (int i = 0; i < nChars; ++i)
            text += "0123456789ABCDEFabcdef"[pick(22)];
        return text;
    };
    for (int round = 0; round < 2000; ++round) {
        Built b;
        CardSettings& s = b.form.m_settings;
        SettingsBlock& block = b.state.m_settingsBlock;
        ApplyConnectionDefaults(s, block);
        const auto mode = static_cast<OutputMode>(pick(2));
        const auto kind = static_cast<InterfaceKind>(pick(2));
        const auto length = static_cast<WiegandLength>(pick(3));
        const auto format = static_cast<AbaFormat>(pick(5));
        const auto keyType = static_cast<KeyType>(pick(2));
        const auto order = static_cast<ByteOrder>(pick(2));
        const auto timing = static_cast<ImpulseTiming>(pick(2));
        const bool bProtect = pick(2) == 1;
        std::array<std::function<void()>, 8> choices{
            [&] { ChooseOutputMode(s, block, mode); },      [&] { ChooseInterface(s, block, kind); },
            [&] { ChooseWiegandLength(s, block, length); }, [&] { ChooseAbaFormat(s, block, format); },
            [&] { ChooseKeyType(s, block, keyType); },      [&] { ChooseByteOrder(s, block, order); },
            [&] { ChooseImpulseTiming(s, block, timing); }, [&] { ChoosePasswordProtection(s, block, bProtect); }};
        std::shuffle(choices.begin(), choices.end(), rng);
        for (const auto& choose : choices)
            choose();
        s.m_bConfigLocking = pick(2) == 1;
        FakeBuildForm& f = b.form;
        f.m_nSector = pick(16), f.m_nBlock = pick(4), f.m_nStart = pick(14);
        f.m_nEnd = std::min(15, f.m_nStart + pick(5));
        f.m_strKeyField = hexText(12), f.m_strPasswordField = hexText(8);
        const int interval = 1 + pick(255), width = 1 + pick(255);
        f.m_strIntervalField = std::to_string(interval);
        f.m_strWidthField = (width < 10 ? "0" : "") + std::to_string(width);
        ASSERT_TRUE(BuildSettingsBlock(f, b.state)) << f.m_messages.front().m_strText;

        DecodedConfiguration d;
        std::string reason;
        ASSERT_TRUE(DecodeConfigurationFrame(b.Frame(), d, reason)) << reason;
        const bool bSector = mode == OutputMode::SectorData;
        const bool bUserTiming = kind == InterfaceKind::Wiegand && timing == ImpulseTiming::UserDefined;
        std::array<std::uint8_t, 6> key = kDefaultKeyBytes;
        std::array<std::uint8_t, 4> password{};
        if (bSector) {
            ASSERT_EQ(ParseKeyText(f.m_strKeyField, key, f), 6);
        }
        ASSERT_EQ(ParsePasswordText(f.m_strPasswordField, password, f), 4);
        EXPECT_EQ(d.m_block, b.state.m_stagedBlock);
        EXPECT_EQ(d.m_eOutputMode, mode);
        EXPECT_EQ(d.m_eInterface, kind);
        EXPECT_EQ(kind == InterfaceKind::Wiegand ? d.m_eWiegandLength == length : d.m_eAbaFormat == format, true);
        EXPECT_EQ(d.m_nImpulseInterval, bUserTiming ? interval : 40);
        EXPECT_EQ(d.m_nImpulseWidth, bUserTiming ? width : 8);
        EXPECT_EQ(d.m_bConfigLocking, s.m_bConfigLocking);
        EXPECT_EQ(d.m_bPasswordProtection, bProtect);
        EXPECT_EQ(d.m_password, password);
        EXPECT_EQ(d.m_key, key);
        EXPECT_EQ(d.m_eKeyType, bSector ? keyType : KeyType::KeyA);
        EXPECT_EQ(d.m_eByteOrder, bSector ? order : ByteOrder::LsbFirst);
        EXPECT_EQ(d.m_nSector, bSector ? f.m_nSector : 0);
        EXPECT_EQ(d.m_nBlockNumber, bSector ? f.m_nSector * 4 + f.m_nBlock : 0);
        EXPECT_EQ(d.m_nStartAddress, bSector ? f.m_nStart : 0);
        EXPECT_EQ(d.m_nEndAddress, bSector ? f.m_nEnd : 4);
    }
}

TEST(DescribeConfiguration, NamesWhatTheCardCarries)
{
    Built built;
    ExampleBlock(true, built);
    DecodedConfiguration d;
    std::string reason;
    ASSERT_TRUE(DecodeConfigurationFrame(built.Frame(), d, reason)) << reason;
    EXPECT_EQ(DescribeConfiguration(d),
              "Output mode: sector data after key checking (0xFE)\n"
              "Interface: ABA, format 6H to 10D (0x16)\n"
              "Sector: 2, block 1 of the sector (block 9 of the card)\n"
              "Key: KEY B, bytes A5 C3 0F 7E 9B 12\n"
              "Byte range in the block: start 2, end 6, 5 bytes (0x62)\n"
              "Byte order: most significant byte first\n"
              "Impulse interval: 40 units (2000 us) (not used by ABA)\n"
              "Impulse width: 8 units (400 us) (not used by ABA)\n"
              "Configuration locking: on (0x5A)\n"
              "Configuration password: 47 15 02 63\n"
              "Password protection: enabled\n");
    ASSERT_TRUE(DecodeConfigurationFrame(EncodeFrame(0x20, ExampleBlock(false)), d, reason));
    const std::string uid = DescribeConfiguration(d);
    EXPECT_NE(uid.find("Interface: Wiegand, WIEGAND 26 bits (0x02)\n"), std::string::npos) << uid;
    EXPECT_NE(uid.find("Key: KEY A, bytes A5 C3 0F 7E 9B 12 (not used in UID output)\n"), std::string::npos) << uid;
    EXPECT_NE(uid.find("Configuration locking: off (0xAA)\n"), std::string::npos) << uid;
}

}  // namespace
}  // namespace varnis
