// Byte codes of every choice, and what a click on a choice does to the
// settings and the settings block. The window's click rules add the enabling
// and disabling of controls; the command line uses these directly.
#pragma once

#include "config/CardSettings.h"
#include "config/SettingsBuild.h"

#include <cstdint>
#include <string_view>

namespace varnis {

std::uint8_t OutputModeCode(OutputMode mode);          // byte 0: 0x01 / 0xFE
std::uint8_t WiegandLengthCode(WiegandLength length);  // byte 1: 0x02 / 0x04 / 0x05
std::uint8_t AbaFormatCode(AbaFormat format);          // byte 1: 0x08 0x06 0x16 0x24 0x25
std::uint8_t KeyTypeCode(KeyType type);                // byte 4: 0x00 / 0x01
std::uint8_t ByteOrderCode(ByteOrder order);           // byte 12: MSB 0x01 / LSB 0x00
std::uint8_t LockingCode(bool bLocking);               // byte 15: 0x5A / 0xAA
std::uint8_t PasswordProtectionCode(bool bEnabled);    // byte 20: 0x01 / 0x00

// The labels the form gives each choice ("WIEGAND 26 bits", "6H to 10D", ...).
std::string_view OutputModeLabel(OutputMode mode);
std::string_view InterfaceLabel(InterfaceKind kind);
std::string_view WiegandLengthLabel(WiegandLength length);
std::string_view AbaFormatLabel(AbaFormat format);
std::string_view KeyTypeLabel(KeyType type);
std::string_view ByteOrderLabel(ByteOrder order);
std::string_view ImpulseTimingLabel(ImpulseTiming timing);

// A click on a choice: records it in the settings and writes its bytes into
// the block. ChooseInterface does not read the form texts; the caller does
// that first. ChooseImpulseTiming(Default) also puts the texts "40" and "08"
// back and writes bytes 13 and 14.
// The block always follows the settings in use: the Wiegand length and ABA
// format choices write byte 1 only while their interface is the chosen one
// (the other is remembered), and the key type and byte order choices write
// bytes 4 and 12 only in sector data output (UID output carries 0x00 there).
// A window, whose disabled groups cannot be clicked, sees no difference; a
// caller that makes its choices in any order gets a consistent block.
void ChooseOutputMode(CardSettings& settings, SettingsBlock& block, OutputMode mode);
void ChooseInterface(CardSettings& settings, SettingsBlock& block, InterfaceKind kind);
void ChooseWiegandLength(CardSettings& settings, SettingsBlock& block, WiegandLength length);
void ChooseAbaFormat(CardSettings& settings, SettingsBlock& block, AbaFormat format);
void ChooseKeyType(CardSettings& settings, SettingsBlock& block, KeyType type);
void ChooseByteOrder(CardSettings& settings, SettingsBlock& block, ByteOrder order);
void ChooseImpulseTiming(CardSettings& settings, SettingsBlock& block, ImpulseTiming timing);
void ChoosePasswordProtection(CardSettings& settings, SettingsBlock& block, bool bEnabled);

// What a new connection does to the settings and the block: every setting
// back to its default and the choices' click effects applied in the order of
// the connected-state procedure, then bytes 13, 14, 15 = 0x28, 0x08, 0xAA.
// Bytes 16 to 19 are left as they were.
void ApplyConnectionDefaults(CardSettings& settings, SettingsBlock& block);

}  // namespace varnis
