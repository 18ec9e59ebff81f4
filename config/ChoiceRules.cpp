#include "config/ChoiceRules.h"

#include <algorithm>

namespace varnis {

std::uint8_t OutputModeCode(OutputMode mode)
{
    return mode == OutputMode::SectorData ? 0xFE : 0x01;
}

std::uint8_t WiegandLengthCode(WiegandLength length)
{
    switch (length) {
    case WiegandLength::Bits26: return 0x02;
    case WiegandLength::Bits34: return 0x04;
    case WiegandLength::Bits42: return 0x05;
    }
    return 0x02;
}

std::uint8_t AbaFormatCode(AbaFormat format)
{
    switch (format) {
    case AbaFormat::H8ToD10: return 0x08;
    case AbaFormat::H6ToD8: return 0x06;
    case AbaFormat::H6ToD10: return 0x16;
    case AbaFormat::H4H2ToD10: return 0x24;
    case AbaFormat::H4H2ToD8: return 0x25;
    }
    return 0x08;
}

std::uint8_t KeyTypeCode(KeyType type)
{
    return type == KeyType::KeyB ? 0x01 : 0x00;
}

std::uint8_t ByteOrderCode(ByteOrder order)
{
    return order == ByteOrder::MsbFirst ? 0x01 : 0x00;
}

std::uint8_t LockingCode(bool bLocking)
{
    return bLocking ? 0x5A : 0xAA;
}

std::uint8_t PasswordProtectionCode(bool bEnabled)
{
    return bEnabled ? 0x01 : 0x00;
}

std::string_view OutputModeLabel(OutputMode mode)
{
    return mode == OutputMode::SectorData ? "Mode1：Output sector data after KEY checking" : "Mode0：Output UID number";
}

std::string_view InterfaceLabel(InterfaceKind kind)
{
    return kind == InterfaceKind::Aba ? "ABA" : "WIEGAND";
}

std::string_view WiegandLengthLabel(WiegandLength length)
{
    switch (length) {
    case WiegandLength::Bits26: return "WIEGAND 26 bits";
    case WiegandLength::Bits34: return "WIEGAND 34 bits";
    case WiegandLength::Bits42: return "WIEGAND 42 bits";
    }
    return "?";
}

std::string_view AbaFormatLabel(AbaFormat format)
{
    switch (format) {
    case AbaFormat::H8ToD10: return "8H to 10D";
    case AbaFormat::H6ToD8: return "6H to 8D";
    case AbaFormat::H6ToD10: return "6H to 10D";
    case AbaFormat::H4H2ToD10: return "4H+2H to 10D";
    case AbaFormat::H4H2ToD8: return "4H+2H to 8D";
    }
    return "?";
}

std::string_view KeyTypeLabel(KeyType type)
{
    return type == KeyType::KeyB ? "KEY B" : "KEY A";
}

std::string_view ByteOrderLabel(ByteOrder order)
{
    return order == ByteOrder::MsbFirst ? "Most Significant Byte first" : "Least Significant Byte first";
}

std::string_view ImpulseTimingLabel(ImpulseTiming timing)
{
    return timing == ImpulseTiming::UserDefined ? "User-defined" : "Default";
}

void ChooseOutputMode(CardSettings& settings, SettingsBlock& block, OutputMode mode)
{
    settings.m_eOutputMode = mode;
    block[kByteOutputMode] = OutputModeCode(mode);
    if (mode == OutputMode::Uid) {
        // UID output reads no sector: the block carries the fixed values. The
        // key type and byte order settings are kept for a later sector choice.
        block[kByteSector] = 0x00;
        block[kByteBlockNumber] = 0x00;
        block[kByteKeyType] = 0x00;
        std::ranges::copy(kDefaultKeyBytes, block.begin() + kByteKey);
        block[kByteRange] = kUidRangeByte;
        block[kByteOrder] = 0x00;
    } else {
        block[kByteKeyType] = KeyTypeCode(settings.m_eKeyType);
        block[kByteOrder] = ByteOrderCode(settings.m_eByteOrder);
    }
}

void ChooseInterface(CardSettings& settings, SettingsBlock& block, InterfaceKind kind)
{
    settings.m_eInterface = kind;
    block[kByteInterface] = kind == InterfaceKind::Aba ? AbaFormatCode(settings.m_eAbaFormat)
                                                       : WiegandLengthCode(settings.m_eWiegandLength);
}

// The remembered choice of the other interface is recorded, but byte 1 only
// ever carries the code of the interface in use, and bytes 4 and 12 stay 0x00
// in UID output, whatever order a caller makes its choices in.
void ChooseWiegandLength(CardSettings& settings, SettingsBlock& block, WiegandLength length)
{
    settings.m_eWiegandLength = length;
    if (settings.m_eInterface == InterfaceKind::Wiegand)
        block[kByteInterface] = WiegandLengthCode(length);
}

void ChooseAbaFormat(CardSettings& settings, SettingsBlock& block, AbaFormat format)
{
    settings.m_eAbaFormat = format;
    if (settings.m_eInterface == InterfaceKind::Aba)
        block[kByteInterface] = AbaFormatCode(format);
}

void ChooseKeyType(CardSettings& settings, SettingsBlock& block, KeyType type)
{
    settings.m_eKeyType = type;
    if (settings.m_eOutputMode == OutputMode::SectorData)
        block[kByteKeyType] = KeyTypeCode(type);
}

void ChooseByteOrder(CardSettings& settings, SettingsBlock& block, ByteOrder order)
{
    settings.m_eByteOrder = order;
    if (settings.m_eOutputMode == OutputMode::SectorData)
        block[kByteOrder] = ByteOrderCode(order);
}

void ChooseImpulseTiming(CardSettings& settings, SettingsBlock& block, ImpulseTiming timing)
{
    settings.m_eImpulseTiming = timing;
    if (timing == ImpulseTiming::Default) {
        settings.m_strImpulseInterval = kDefaultImpulseIntervalText;
        settings.m_strImpulseWidth = kDefaultImpulseWidthText;
        block[kByteImpulseInterval] = kDefaultImpulseInterval;
        block[kByteImpulseWidth] = kDefaultImpulseWidth;
    }
}

void ChoosePasswordProtection(CardSettings& settings, SettingsBlock& block, bool bEnabled)
{
    settings.m_bPasswordProtection = bEnabled;
    block[kBytePasswordProtection] = PasswordProtectionCode(bEnabled);
}

void ApplyConnectionDefaults(CardSettings& settings, SettingsBlock& block)
{
    const CardSettings defaults{};
    // The default texts and list selections first.
    settings.m_strImpulseInterval = defaults.m_strImpulseInterval;
    settings.m_strImpulseWidth = defaults.m_strImpulseWidth;
    settings.m_strKey = defaults.m_strKey;
    settings.m_strPassword = defaults.m_strPassword;
    settings.m_nSector = defaults.m_nSector;
    settings.m_nBlock = defaults.m_nBlock;
    settings.m_nStartAddress = defaults.m_nStartAddress;
    settings.m_nEndAddress = defaults.m_nEndAddress;
    // Then the choices, in this order: the ABA format before the Wiegand
    // length and the interface, so byte 1 ends with the Wiegand code.
    ChooseOutputMode(settings, block, OutputMode::Uid);
    ChooseAbaFormat(settings, block, AbaFormat::H8ToD10);
    ChooseWiegandLength(settings, block, WiegandLength::Bits26);
    ChooseInterface(settings, block, InterfaceKind::Wiegand);
    ChooseKeyType(settings, block, KeyType::KeyA);
    ChooseByteOrder(settings, block, ByteOrder::LsbFirst);
    ChooseImpulseTiming(settings, block, ImpulseTiming::Default);
    block[kByteImpulseInterval] = kDefaultImpulseInterval;
    block[kByteImpulseWidth] = kDefaultImpulseWidth;
    block[kByteLocking] = LockingCode(false);
    settings.m_bConfigLocking = false;
    ChoosePasswordProtection(settings, block, false);
}

}  // namespace varnis
