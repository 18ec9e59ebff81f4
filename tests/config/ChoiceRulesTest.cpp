#include "config/ChoiceRules.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace varnis {
namespace {

TEST(ChoiceCodes, InterfaceAndFormatCodesOfByte1)
{
    const std::array<std::pair<WiegandLength, int>, 3> wiegand{
        {{WiegandLength::Bits26, 0x02}, {WiegandLength::Bits34, 0x04}, {WiegandLength::Bits42, 0x05}}};
    for (const auto& [length, code] : wiegand)
        EXPECT_EQ(WiegandLengthCode(length), code);
    const std::array<std::pair<AbaFormat, int>, 5> aba{{{AbaFormat::H8ToD10, 0x08},
                                                        {AbaFormat::H6ToD8, 0x06},
                                                        {AbaFormat::H6ToD10, 0x16},
                                                        {AbaFormat::H4H2ToD10, 0x24},
                                                        {AbaFormat::H4H2ToD8, 0x25}}};
    for (const auto& [format, code] : aba)
        EXPECT_EQ(AbaFormatCode(format), code);
    EXPECT_EQ(AbaFormatLabel(AbaFormat::H4H2ToD8), "4H+2H to 8D");
}

TEST(ApplyConnectionDefaults, EverySettingAndTheBlockWhateverCameBefore)
{
    CardSettings s{OutputMode::SectorData,
                   InterfaceKind::Aba,
                   WiegandLength::Bits42,
                   AbaFormat::H4H2ToD8,
                   ImpulseTiming::UserDefined,
                   "100",
                   "1",
                   7,
                   3,
                   9,
                   12,
                   ByteOrder::MsbFirst,
                   KeyType::KeyB,
                   "FFFFFFFFFFFF",
                   "12345678",
                   true,
                   true};
    SettingsBlock block;
    block.fill(0x77);
    ApplyConnectionDefaults(s, block);
    EXPECT_EQ(s, CardSettings{});
    const SettingsBlock expected{0x01, 0x02, 0x00, 0x00, 0x00, 0xA5, 0xC3, 0x0F, 0x7E, 0x9B, 0x12,
                                 0x40, 0x00, 0x28, 0x08, 0xAA, 0x77, 0x77, 0x77, 0x77, 0x00};
    EXPECT_EQ(block, expected) << "bytes 16 to 19 keep what they held";
}

TEST(ChooseOutputMode, UidCarriesFixedValuesAndSectorDataBringsTheChoicesBack)
{
    CardSettings s;
    SettingsBlock b{};
    ApplyConnectionDefaults(s, b);
    ChooseOutputMode(s, b, OutputMode::SectorData);
    ChooseKeyType(s, b, KeyType::KeyB);
    ChooseByteOrder(s, b, ByteOrder::MsbFirst);
    EXPECT_EQ(b[0], 0xFE);
    EXPECT_EQ(b[4], 0x01);
    EXPECT_EQ(b[12], 0x01);
    b[2] = 5, b[3] = 21, b[7] = 0, b[11] = 0x73;  // as a build for sector data leaves them
    ChooseOutputMode(s, b, OutputMode::Uid);
    const SettingsBlock uid = b;
    EXPECT_EQ((std::array{uid[0], uid[2], uid[3], uid[4], uid[11], uid[12]}),
              (std::array<std::uint8_t, 6>{0x01, 0, 0, 0, 0x40, 0}));
    EXPECT_TRUE(std::equal(kDefaultKeyBytes.begin(), kDefaultKeyBytes.end(), uid.begin() + 5));
    // In UID output the key type and byte order are remembered but not carried.
    ChooseKeyType(s, b, KeyType::KeyA);
    ChooseKeyType(s, b, KeyType::KeyB);
    EXPECT_EQ(b, uid);
    ChooseOutputMode(s, b, OutputMode::SectorData);
    EXPECT_EQ(b[4], 0x01);
    EXPECT_EQ(b[12], 0x01);
}

TEST(ChooseInterface, EachInterfaceRemembersItsOwnChoice)
{
    CardSettings s;
    SettingsBlock b{};
    ApplyConnectionDefaults(s, b);
    ChooseAbaFormat(s, b, AbaFormat::H4H2ToD10);
    EXPECT_EQ(b[1], 0x02) << "a format of the unused interface is only remembered";
    ChooseWiegandLength(s, b, WiegandLength::Bits34);
    EXPECT_EQ(b[1], 0x04);
    ChooseInterface(s, b, InterfaceKind::Aba);
    EXPECT_EQ(b[1], 0x24);
    ChooseAbaFormat(s, b, AbaFormat::H6ToD10);
    ChooseInterface(s, b, InterfaceKind::Wiegand);
    EXPECT_EQ(b[1], 0x04);
    ChooseWiegandLength(s, b, WiegandLength::Bits42);
    ChooseInterface(s, b, InterfaceKind::Aba);
    EXPECT_EQ(b[1], 0x16);
    EXPECT_EQ(s.m_eWiegandLength, WiegandLength::Bits42);
}

TEST(ChooseImpulseTiming, DefaultPutsTextsAndBytesBackUserDefinedKeepsThem)
{
    CardSettings s;
    SettingsBlock b{};
    ChooseImpulseTiming(s, b, ImpulseTiming::UserDefined);
    s.m_strImpulseWidth = "100", s.m_strImpulseInterval = "7", s.m_strKey = "0011";
    b[13] = 1, b[14] = 2;
    ChooseImpulseTiming(s, b, ImpulseTiming::UserDefined);
    EXPECT_EQ(s.m_strImpulseWidth, "100");
    EXPECT_EQ(b[14], 2);
    ChooseImpulseTiming(s, b, ImpulseTiming::Default);
    EXPECT_EQ(s.m_strImpulseWidth, "08");
    EXPECT_EQ(s.m_strImpulseInterval, "40");
    EXPECT_EQ(s.m_strKey, "0011");
    EXPECT_EQ(b[13], 0x28);
    EXPECT_EQ(b[14], 0x08);
}

}  // namespace
}  // namespace varnis
