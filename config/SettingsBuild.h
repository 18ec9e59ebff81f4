// Validation of the form and the settings block / configuration frame it becomes.
#pragma once

#include "config/CardSettings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace varnis {

inline constexpr std::size_t kSettingsBlockSize = 21;
inline constexpr std::size_t kConfigurationFrameSize = 26;
using SettingsBlock = std::array<std::uint8_t, kSettingsBlockSize>;
using ConfigurationFrame = std::array<std::uint8_t, kConfigurationFrameSize>;

inline constexpr std::uint8_t kFrameStart = 0xAA;
inline constexpr std::uint8_t kFrameEnd = 0x03;
inline constexpr std::uint8_t kConfigurationCommand = 0x20;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kAck = 0x06;

inline constexpr std::string_view kCaptionWarning = "Warning";
inline constexpr std::string_view kCaptionWarnning = "Warnning";

// The build's messages, exactly as the user sees them.
inline constexpr std::string_view kMsgPortNotOpen = "Port not open,please open it";
inline constexpr std::string_view kMsgKeyLength = "KEY length invalid.";
inline constexpr std::string_view kMsgKeyData = "KEY data invalid.";
inline constexpr std::string_view kMsgBlockAddress = "Block address definition invalid.";
inline constexpr std::string_view kMsgImpulse = "Impulse parameter definition invalid.";
inline constexpr std::string_view kMsgPasswordLength = "Configuration password length invalid.";
inline constexpr std::string_view kMsgPasswordData = "Configuration password data invalid.";

// Fixed values the block carries where a setting does not count.
inline constexpr std::uint8_t kUidRangeByte = 0x40;            // start 0, end 4
inline constexpr std::uint8_t kDefaultImpulseInterval = 0x28;  // 40 units of 50 us
inline constexpr std::uint8_t kDefaultImpulseWidth = 0x08;     // 8 units of 50 us

// The bytes of a text of hexadecimal digits, two digits a byte in the order
// of the text; for the fixed default texts only (no checking).
template <std::size_t N>
constexpr std::array<std::uint8_t, N> HexTextBytes(std::string_view text)
{
    auto nibble = [](char c) -> std::uint8_t {
        if (c >= '0' && c <= '9')
            return static_cast<std::uint8_t>(c - '0');
        if (c >= 'A' && c <= 'F')
            return static_cast<std::uint8_t>(c - 'A' + 10);
        if (c >= 'a' && c <= 'f')
            return static_cast<std::uint8_t>(c - 'a' + 10);
        return 0;
    };
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N && 2 * i + 1 < text.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(nibble(text[2 * i]) * 16 + nibble(text[2 * i + 1]));
    }
    return bytes;
}
inline constexpr std::array<std::uint8_t, 6> kDefaultKeyBytes = HexTextBytes<6>(kDefaultKeyText);
inline constexpr std::array<std::uint8_t, 4> kDefaultPasswordBytes = HexTextBytes<4>(kDefaultPasswordText);

// Places in the settings block.
inline constexpr std::size_t kByteOutputMode = 0;
inline constexpr std::size_t kByteInterface = 1;
inline constexpr std::size_t kByteSector = 2;
inline constexpr std::size_t kByteBlockNumber = 3;
inline constexpr std::size_t kByteKeyType = 4;
inline constexpr std::size_t kByteKey = 5;  // 5 to 10
inline constexpr std::size_t kByteRange = 11;
inline constexpr std::size_t kByteOrder = 12;
inline constexpr std::size_t kByteImpulseInterval = 13;
inline constexpr std::size_t kByteImpulseWidth = 14;
inline constexpr std::size_t kByteLocking = 15;
inline constexpr std::size_t kBytePassword = 16;  // 16 to 19
inline constexpr std::size_t kBytePasswordProtection = 20;

// The settings block, the staged copy of the last successful build and the
// frame-ready flag. The program holds exactly one of these.
struct BuildState {
    SettingsBlock m_settingsBlock{};
    SettingsBlock m_stagedBlock{};
    bool m_bFrameReady = false;
};

// The build's checks, in the order it makes them.
enum class BuildCheck : std::uint8_t { PortOpen, Key, Range, Impulse, Password };

// Where messages go: a modal box with one OK button, owned by the window.
class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
    // The message of the check that refused a build; a sink that does not
    // tell the checks apart shows it as any other.
    virtual void Refuse(BuildCheck eCheck, std::string_view text, std::string_view caption)
    {
        static_cast<void>(eCheck);
        ShowMessage(text, caption);
    }
};

// What a build needs of the window.
class IBuildForm : public IMessageSink {
public:
    virtual bool IsPortOpen() const = 0;
    // Takes the four edit-field texts into Settings().
    virtual void ReadFormTexts() = 0;
    virtual const CardSettings& Settings() const = 0;
    // Current selections of the lists 1019, 1020, 1021 and 1060.
    virtual int SelectedSector() const = 0;
    virtual int SelectedBlock() const = 0;
    virtual int SelectedStartAddress() const = 0;
    virtual int SelectedEndAddress() const = 0;
};

// 0..15 for a digit, 16 for anything else.
int HexDigitValue(char32_t c);
int DecimalDigitValue(char32_t c);

// Return the number of bytes produced (6 / 4 on success); show their own messages.
int ParseKeyText(std::string_view text, std::span<std::uint8_t, 6> out, IMessageSink& sink);
int ParsePasswordText(std::string_view text, std::span<std::uint8_t, 4> out, IMessageSink& sink);
// True when the text is a decimal number 1..255; shows nothing.
bool ParseImpulseText(std::string_view text, std::uint8_t& out);
// True and byte 11 in `out` when start <= end <= start + 4 (both 0..15).
bool EncodeRangeByte(int start, int end, std::uint8_t& out);

// Validates and encodes; on success stages the block and sets the frame-ready
// flag. A failed build shows the first failing check's message and changes
// nothing in `state` (the settings block included).
bool BuildSettingsBlock(IBuildForm& form, BuildState& state);
ConfigurationFrame AssembleConfigurationFrame(const BuildState& state);

}  // namespace varnis
