#include "config/SettingsBuild.h"
#include "config/TextCharacters.h"
#include "config/FakeBuildForm.h"

#include <gtest/gtest.h>

namespace varnis {
namespace {

using test::RecordingSink;
using test::ShownMessage;

TEST(DigitValue, HexAndDecimalDigitsAndEverythingElse)
{
    for (char32_t c = 0; c < 0x200; ++c) {
        int hex = 16;
        if (c >= U'0' && c <= U'9')
            hex = static_cast<int>(c - U'0');
        if (c >= U'A' && c <= U'F')
            hex = static_cast<int>(c - U'A' + 10);
        if (c >= U'a' && c <= U'f')
            hex = static_cast<int>(c - U'a' + 10);
        EXPECT_EQ(HexDigitValue(c), hex) << static_cast<unsigned>(c);
        EXPECT_EQ(DecimalDigitValue(c), hex < 10 ? hex : 16) << static_cast<unsigned>(c);
    }
    EXPECT_EQ(HexDigitValue(U'\uFF10'), 16);  // a full-width digit is no digit
}

TEST(TextCharacters, CodePointsAndInvalidBytesCountOneEach)
{
    EXPECT_EQ(TextCharacters("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (std::vector<char32_t>{U'A', U'\u00E9', U'\u20AC', U'\U0001F600'}));
    EXPECT_EQ(TextCharacters(std::string("a\0b", 3)).size(), 3U);
    // truncated, truncated before 'A', overlong (twice), surrogate, above U+10FFFF, stray bytes
    for (const auto& [text, n] : std::vector<std::pair<std::string, std::size_t>>{{"\xC3", 1},
                                                                                  {"\xE2\x82"
                                                                                   "A",
                                                                                   3},
                                                                                  {"\xC0\xAF", 2},
                                                                                  {"\xE0\x80\xAF", 3},
                                                                                  {"\xED\xA0\x80", 3},
                                                                                  {"\xF4\x90\x80\x80", 4},
                                                                                  {"\xFF\xFE", 2}}) {
        const std::vector<char32_t> chars = TextCharacters(text);
        EXPECT_EQ(chars.size(), n) << text;
        EXPECT_EQ(chars.front(), kInvalidCharacter) << text;
    }
}

TEST(ParseKeyText, AnyCaseInTheOrderTypedCountingCharactersNotBytes)
{
    RecordingSink sink;
    std::array<std::uint8_t, 6> key{}, lower{};
    EXPECT_EQ(ParseKeyText("A5C30F7E9B12", key, sink), 6);
    EXPECT_EQ(key, (std::array<std::uint8_t, 6>{0xA5, 0xC3, 0x0F, 0x7E, 0x9B, 0x12}));
    EXPECT_EQ(ParseKeyText("a5c30f7e9b12", lower, sink), 6);
    EXPECT_EQ(lower, key);
    EXPECT_TRUE(sink.m_messages.empty());
    const std::vector<std::tuple<std::string, int, std::string>> cases{
        {"A5C30F7E9B1", 0, "KEY length invalid."},
        {"A5C30F7E9B123", 0, "KEY length invalid."},
        {"", 0, "KEY length invalid."},
        {"A5C30F7E9\xC3\xA9", 0, "KEY length invalid."},  // 12 bytes, 11 characters
        {"G5C30F7E9B12", 0, "KEY data invalid."},
        {"A5C3 F7E9B12", 2, "KEY data invalid."},
        {"A5C30F7E9B1\xC3\xA9", 5, "KEY data invalid."},  // 13 bytes, 12 characters
        {"A5\xE2\x82\xAC"
         "30F7E9B12",
         1, "KEY data invalid."},
        {"A5C30F7E9B1\xFF", 5, "KEY data invalid."},
    };
    for (const auto& [text, nResult, message] : cases) {
        RecordingSink sink;
        std::array<std::uint8_t, 6> key{};
        EXPECT_EQ(ParseKeyText(text, key, sink), nResult) << text;
        EXPECT_EQ(sink.m_messages, (std::vector<ShownMessage>{{message, "Warning"}})) << text;
    }
}

TEST(ParsePasswordText, MessagesAndCaptions)
{
    std::array<std::uint8_t, 4> pw{};
    RecordingSink ok, shortText, badDigit;
    EXPECT_EQ(ParsePasswordText("47150263", pw, ok), 4);
    EXPECT_EQ(pw, kDefaultPasswordBytes);
    EXPECT_TRUE(ok.m_messages.empty());
    EXPECT_EQ(ParsePasswordText("4715026", pw, shortText), 0);
    EXPECT_EQ(shortText.m_messages,
              (std::vector<ShownMessage>{{"Configuration password length invalid.", "Warnning"}}));
    EXPECT_EQ(ParsePasswordText("4715x263", pw, badDigit), 2);
    EXPECT_EQ(badDigit.m_messages, (std::vector<ShownMessage>{{"Configuration password data invalid.", "Warning"}}));
}

TEST(ParseImpulseText, DecimalOneTo255)
{
    for (const auto& [text, value] : std::vector<std::pair<std::string, int>>{
             {"1", 1}, {"08", 8}, {"008", 8}, {"40", 40}, {"255", 255}, {"010", 10}}) {
        std::uint8_t out = 0;
        EXPECT_TRUE(ParseImpulseText(text, out)) << text;
        EXPECT_EQ(out, value) << text;
    }
    for (const std::string text : {"", "0", "000", "256", "999", "1000", "0255", "-1", "+1", " 8", "1a", "\xC3\xA9"}) {
        std::uint8_t out = 77;
        EXPECT_FALSE(ParseImpulseText(text, out)) << text;
        EXPECT_EQ(out, 77) << text;
    }
}

TEST(EncodeRangeByte, SeventyAcceptablePairs)
{
    int nAccepted = 0;
    for (int start = -2; start <= 17; ++start) {
        for (int end = -2; end <= 17; ++end) {
            std::uint8_t out = 0;
            const bool bAcceptable = start >= 0 && end <= 15 && start <= end && end <= start + 4;
            ASSERT_EQ(EncodeRangeByte(start, end, out), bAcceptable) << start << "," << end;
            if (bAcceptable) {
                ++nAccepted;
                EXPECT_EQ(out, end * 16 + start);
            }
        }
    }
    EXPECT_EQ(nAccepted, 70);
}

}  // namespace
}  // namespace varnis
