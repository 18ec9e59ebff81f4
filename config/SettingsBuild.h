// Validation of the form and the settings block / configuration frame it becomes.
#pragma once

#include "config/CardSettings.h"

#include <array>
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

// The settings block, the staged copy of the last successful build and the
// frame-ready flag. The program holds exactly one of these.
struct BuildState {
    SettingsBlock m_settingsBlock{};
    SettingsBlock m_stagedBlock{};
    bool m_bFrameReady = false;
};

// Where messages go: a modal box with one OK button, owned by the window.
class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
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

// Validates and encodes; on success stages the block and sets the frame-ready flag.
bool BuildSettingsBlock(IBuildForm& form, BuildState& state);
ConfigurationFrame AssembleConfigurationFrame(const BuildState& state);

}  // namespace varnis
