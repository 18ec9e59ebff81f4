// The settings one configuration card carries, their codes and their defaults.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnis {

enum class OutputMode : std::uint8_t { Uid, SectorData };
enum class InterfaceKind : std::uint8_t { Wiegand, Aba };
enum class WiegandLength : std::uint8_t { Bits26, Bits34, Bits42 };
// In the order of their radio buttons' group: 1045, 1046, 1047, 1048, 1049.
enum class AbaFormat : std::uint8_t { H8ToD10, H6ToD8, H6ToD10, H4H2ToD10, H4H2ToD8 };
enum class ImpulseTiming : std::uint8_t { Default, UserDefined };
enum class ByteOrder : std::uint8_t { MsbFirst, LsbFirst };
enum class KeyType : std::uint8_t { KeyA, KeyB };

inline constexpr std::string_view kDefaultKeyText = "A5C30F7E9B12";
inline constexpr std::string_view kDefaultPasswordText = "47150263";
inline constexpr std::string_view kDefaultImpulseIntervalText = "40";
inline constexpr std::string_view kDefaultImpulseWidthText = "08";

// Edit-field length limits, in characters.
inline constexpr int kKeyTextLimit = 12;
inline constexpr int kPasswordTextLimit = 8;
inline constexpr int kImpulseTextLimit = 3;

// The four texts hold exactly what was typed, as UTF-8. They are counted and
// checked character by character (a character outside ASCII is one character
// and no digit) only when a command is built.
struct CardSettings {
    OutputMode m_eOutputMode = OutputMode::Uid;
    InterfaceKind m_eInterface = InterfaceKind::Wiegand;
    WiegandLength m_eWiegandLength = WiegandLength::Bits26;
    AbaFormat m_eAbaFormat = AbaFormat::H8ToD10;
    ImpulseTiming m_eImpulseTiming = ImpulseTiming::Default;
    std::string m_strImpulseWidth{kDefaultImpulseWidthText};
    std::string m_strImpulseInterval{kDefaultImpulseIntervalText};
    // The list settings: their list index is their value. The window reads the
    // lists themselves when it builds; these hold the selections for front
    // ends without lists (the command line) and for display.
    int m_nSector = 0;
    int m_nBlock = 0;
    int m_nStartAddress = 0;
    int m_nEndAddress = 4;
    ByteOrder m_eByteOrder = ByteOrder::LsbFirst;
    KeyType m_eKeyType = KeyType::KeyA;
    std::string m_strKey{kDefaultKeyText};
    std::string m_strPassword{kDefaultPasswordText};
    bool m_bPasswordProtection = false;
    bool m_bConfigLocking = false;

    bool operator==(const CardSettings&) const = default;
};

}  // namespace varnis
