#include "config/SettingsBuild.h"

#include "config/ChoiceRules.h"
#include "config/TextCharacters.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace varnis {

namespace {

constexpr int kNoDigit = 16;
constexpr int kSectorCount = 16;
constexpr int kBlocksPerSector = 4;
constexpr int kLastAddress = 15;
constexpr int kLongestRange = 5;  // bytes, start and end included

struct HexTextRule {
    BuildCheck m_eCheck;
    std::size_t m_nCharacters;
    std::string_view m_strLengthMessage;
    std::string_view m_strLengthCaption;
    std::string_view m_strDataMessage;
};

constexpr HexTextRule kKeyRule{BuildCheck::Key, static_cast<std::size_t>(kKeyTextLimit), kMsgKeyLength, kCaptionWarning,
                               kMsgKeyData};
constexpr HexTextRule kPasswordRule{BuildCheck::Password, static_cast<std::size_t>(kPasswordTextLimit),
                                    kMsgPasswordLength, kCaptionWarnning, kMsgPasswordData};

// Two hexadecimal characters a byte, first character the high nibble.
int ParseHexText(std::string_view text, std::span<std::uint8_t> out, const HexTextRule& rule, IMessageSink& sink)
{
    const std::vector<char32_t> chars = TextCharacters(text);
    if (chars.size() != rule.m_nCharacters) {
        sink.Refuse(rule.m_eCheck, rule.m_strLengthMessage, rule.m_strLengthCaption);
        return 0;
    }
    int nProduced = 0;
    for (std::size_t i = 0; i + 1 < chars.size() && static_cast<std::size_t>(nProduced) < out.size(); i += 2) {
        const int high = HexDigitValue(chars[i]);
        const int low = HexDigitValue(chars[i + 1]);
        if (high == kNoDigit || low == kNoDigit) {
            sink.Refuse(rule.m_eCheck, rule.m_strDataMessage, kCaptionWarning);
            return nProduced;
        }
        out[static_cast<std::size_t>(nProduced)] = static_cast<std::uint8_t>(high * 16 + low);
        ++nProduced;
    }
    return nProduced;
}

}  // namespace

int HexDigitValue(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A') + 10;
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a') + 10;
    return kNoDigit;
}

int DecimalDigitValue(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    return kNoDigit;
}

int ParseKeyText(std::string_view text, std::span<std::uint8_t, 6> out, IMessageSink& sink)
{
    return ParseHexText(text, out, kKeyRule, sink);
}

int ParsePasswordText(std::string_view text, std::span<std::uint8_t, 4> out, IMessageSink& sink)
{
    return ParseHexText(text, out, kPasswordRule, sink);
}

bool ParseImpulseText(std::string_view text, std::uint8_t& out)
{
    const std::vector<char32_t> chars = TextCharacters(text);
    if (chars.empty() || chars.size() > static_cast<std::size_t>(kImpulseTextLimit))
        return false;
    int value = 0;
    for (const char32_t c : chars) {
        const int digit = DecimalDigitValue(c);
        if (digit == kNoDigit)
            return false;
        value = value * 10 + digit;
    }
    if (value < 1 || value > 255)
        return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool EncodeRangeByte(int start, int end, std::uint8_t& out)
{
    if (start < 0 || end < 0 || start > kLastAddress || end > kLastAddress)
        return false;
    if (end < start || end > start + (kLongestRange - 1))
        return false;
    out = static_cast<std::uint8_t>(end * 16 + start);
    return true;
}

bool BuildSettingsBlock(IBuildForm& form, BuildState& state)
{
    if (!form.IsPortOpen()) {
        form.Refuse(BuildCheck::PortOpen, kMsgPortNotOpen, kCaptionWarning);
        return false;
    }
    form.ReadFormTexts();
    const CardSettings& settings = form.Settings();
    const bool bSectorData = settings.m_eOutputMode == OutputMode::SectorData;

    // Work on a copy: a failed build leaves the block as it was.
    SettingsBlock block = state.m_settingsBlock;

    int nSector = 0;
    int nBlock = 0;
    if (bSectorData) {
        nSector = form.SelectedSector();
        nBlock = form.SelectedBlock();
    }

    if (bSectorData) {
        std::array<std::uint8_t, 6> key{};
        if (ParseKeyText(settings.m_strKey, key, form) != 6)
            return false;
        std::ranges::copy(key, block.begin() + kByteKey);
    } else {
        std::ranges::copy(kDefaultKeyBytes, block.begin() + kByteKey);
    }

    if (bSectorData) {
        // A list without a selection (or any index the lists do not offer)
        // is no place on the card: it fails with the address message rather
        // than landing in the block as a wrapped-around byte.
        std::uint8_t range = 0;
        const bool bPlaceOk = nSector >= 0 && nSector < kSectorCount && nBlock >= 0 && nBlock < kBlocksPerSector;
        if (!bPlaceOk || !EncodeRangeByte(form.SelectedStartAddress(), form.SelectedEndAddress(), range)) {
            form.Refuse(BuildCheck::Range, kMsgBlockAddress, kCaptionWarning);
            return false;
        }
        block[kByteSector] = static_cast<std::uint8_t>(nSector);
        block[kByteBlockNumber] = static_cast<std::uint8_t>(nSector * kBlocksPerSector + nBlock);
        block[kByteRange] = range;
    } else {
        block[kByteSector] = 0x00;
        block[kByteBlockNumber] = 0x00;
        block[kByteRange] = kUidRangeByte;
    }

    if (settings.m_eInterface == InterfaceKind::Wiegand && settings.m_eImpulseTiming == ImpulseTiming::UserDefined) {
        std::uint8_t interval = 0;
        std::uint8_t width = 0;
        const bool bIntervalOk = ParseImpulseText(settings.m_strImpulseInterval, interval);
        const bool bWidthOk = ParseImpulseText(settings.m_strImpulseWidth, width);
        if (!bIntervalOk || !bWidthOk) {
            form.Refuse(BuildCheck::Impulse, kMsgImpulse, kCaptionWarning);
            return false;
        }
        block[kByteImpulseInterval] = interval;
        block[kByteImpulseWidth] = width;
    } else {
        block[kByteImpulseInterval] = kDefaultImpulseInterval;
        block[kByteImpulseWidth] = kDefaultImpulseWidth;
    }

    block[kByteLocking] = LockingCode(settings.m_bConfigLocking);

    std::array<std::uint8_t, 4> password{};
    if (ParsePasswordText(settings.m_strPassword, password, form) != 4)
        return false;
    std::ranges::copy(password, block.begin() + kBytePassword);

    // Bytes 0, 1, 4, 12 and 20 keep what the choices wrote.
    state.m_settingsBlock = block;
    state.m_stagedBlock = block;
    state.m_bFrameReady = true;
    return true;
}

ConfigurationFrame AssembleConfigurationFrame(const BuildState& state)
{
    ConfigurationFrame frame{};
    frame[0] = kFrameStart;
    frame[1] = kConfigurationCommand;
    frame[2] = static_cast<std::uint8_t>(kSettingsBlockSize);
    std::ranges::copy(state.m_stagedBlock, frame.begin() + 3);
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < 3 + kSettingsBlockSize; ++i)
        check ^= frame[i];
    frame[3 + kSettingsBlockSize] = check;
    frame[4 + kSettingsBlockSize] = kFrameEnd;
    return frame;
}

}  // namespace varnis
