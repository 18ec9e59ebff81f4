#include "config/FrameDecoder.h"

#include "config/ChoiceRules.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <utility>

namespace varnis {

namespace {

constexpr std::size_t kFrameOverhead = 5;  // start, command, length, check, end
constexpr std::size_t kMaxDataBytes = 255;

std::string Hex(std::uint8_t value)
{
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%02X", static_cast<unsigned>(value));
    return text.data();
}

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (const std::uint8_t b : bytes) {
        std::array<char, 4> pair{};
        std::snprintf(pair.data(), pair.size(), "%02X", static_cast<unsigned>(b));
        if (!text.empty())
            text += ' ';
        text += pair.data();
    }
    return text;
}

std::optional<WiegandLength> WiegandLengthOf(std::uint8_t code)
{
    for (const WiegandLength length : {WiegandLength::Bits26, WiegandLength::Bits34, WiegandLength::Bits42}) {
        if (WiegandLengthCode(length) == code)
            return length;
    }
    return std::nullopt;
}

std::optional<AbaFormat> AbaFormatOf(std::uint8_t code)
{
    for (const AbaFormat format :
         {AbaFormat::H8ToD10, AbaFormat::H6ToD8, AbaFormat::H6ToD10, AbaFormat::H4H2ToD10, AbaFormat::H4H2ToD8}) {
        if (AbaFormatCode(format) == code)
            return format;
    }
    return std::nullopt;
}

bool Fail(std::string& strReason, std::string text)
{
    strReason = std::move(text);
    return false;
}

std::string Units(int units)
{
    return std::to_string(units) + (units == 1 ? " unit (" : " units (") + std::to_string(units * 50) + " us)";
}

}  // namespace

std::vector<std::uint8_t> EncodeFrame(std::uint8_t nCommand, std::span<const std::uint8_t> data)
{
    if (data.size() > kMaxDataBytes)
        return {};
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + kFrameOverhead);
    frame.push_back(kFrameStart);
    frame.push_back(nCommand);
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    std::uint8_t check = 0;
    for (const std::uint8_t b : frame)
        check ^= b;
    frame.push_back(check);
    frame.push_back(kFrameEnd);
    return frame;
}

bool DecodeFrame(std::span<const std::uint8_t> bytes, DecodedFrame& out, std::string& strReason)
{
    if (bytes.empty())
        return Fail(strReason, "no bytes");
    if (bytes[0] != kFrameStart) {
        return Fail(strReason, "start byte is " + Hex(bytes[0]) + ", a frame starts with " + Hex(kFrameStart));
    }
    if (bytes.size() < 3) {
        return Fail(strReason, "truncated: " + std::to_string(bytes.size()) + " bytes, no length byte");
    }
    const std::size_t nData = bytes[2];
    const std::size_t nExpected = nData + kFrameOverhead;
    if (bytes.size() < nExpected) {
        return Fail(strReason, "truncated: the length byte announces " + std::to_string(nData) +
                                   " data bytes, a frame of " + std::to_string(nExpected) + " bytes, but only " +
                                   std::to_string(bytes.size()) + " bytes came");
    }
    if (bytes.size() > nExpected) {
        return Fail(strReason, "the length byte announces " + std::to_string(nData) + " data bytes, a frame of " +
                                   std::to_string(nExpected) + " bytes, but " + std::to_string(bytes.size()) +
                                   " bytes came");
    }
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < 3 + nData; ++i)
        check ^= bytes[i];
    const std::uint8_t received = bytes[3 + nData];
    if (received != check) {
        return Fail(strReason, "check byte is " + Hex(received) + ", the bytes before it give " + Hex(check));
    }
    const std::uint8_t end = bytes[4 + nData];
    if (end != kFrameEnd) {
        return Fail(strReason, "end byte is " + Hex(end) + ", a frame ends with " + Hex(kFrameEnd));
    }
    out.m_nCommand = bytes[1];
    out.m_data.assign(bytes.begin() + 3, bytes.begin() + 3 + static_cast<std::ptrdiff_t>(nData));
    return true;
}

namespace {

bool Unknown(std::string& strReason, const SettingsBlock& b, std::string_view what, std::size_t index)
{
    return Fail(strReason, "unknown " + std::string(what) + " code " + Hex(b[index]) + " (settings byte " +
                               std::to_string(index) + ")");
}

// The output mode and the interface with its Wiegand length or ABA format.
bool DecodeOutput(DecodedConfiguration& config, std::string& strReason)
{
    const SettingsBlock& b = config.m_block;
    if (b[kByteOutputMode] == OutputModeCode(OutputMode::Uid)) {
        config.m_eOutputMode = OutputMode::Uid;
    } else if (b[kByteOutputMode] == OutputModeCode(OutputMode::SectorData)) {
        config.m_eOutputMode = OutputMode::SectorData;
    } else {
        return Unknown(strReason, b, "output mode", kByteOutputMode);
    }

    if (const auto length = WiegandLengthOf(b[kByteInterface])) {
        config.m_eInterface = InterfaceKind::Wiegand;
        config.m_eWiegandLength = *length;
    } else if (const auto format = AbaFormatOf(b[kByteInterface])) {
        config.m_eInterface = InterfaceKind::Aba;
        config.m_eAbaFormat = *format;
    } else {
        return Unknown(strReason, b, "interface and format", kByteInterface);
    }
    return true;
}

// Key type, byte order, configuration locking and password protection.
bool DecodeSwitches(DecodedConfiguration& config, std::string& strReason)
{
    const SettingsBlock& b = config.m_block;
    if (b[kByteKeyType] > 0x01)
        return Unknown(strReason, b, "key type", kByteKeyType);
    config.m_eKeyType = b[kByteKeyType] == KeyTypeCode(KeyType::KeyB) ? KeyType::KeyB : KeyType::KeyA;
    if (b[kByteOrder] > 0x01)
        return Unknown(strReason, b, "byte order", kByteOrder);
    config.m_eByteOrder = b[kByteOrder] == ByteOrderCode(ByteOrder::MsbFirst) ? ByteOrder::MsbFirst
                                                                              : ByteOrder::LsbFirst;
    if (b[kByteLocking] == LockingCode(true)) {
        config.m_bConfigLocking = true;
    } else if (b[kByteLocking] == LockingCode(false)) {
        config.m_bConfigLocking = false;
    } else {
        return Unknown(strReason, b, "configuration locking", kByteLocking);
    }
    if (b[kBytePasswordProtection] > 0x01) {
        return Unknown(strReason, b, "password protection", kBytePasswordProtection);
    }
    config.m_bPasswordProtection = b[kBytePasswordProtection] == PasswordProtectionCode(true);
    return true;
}

// Where the sector data comes from; checked in sector data output only.
bool DecodeSectorRange(DecodedConfiguration& config, std::string& strReason)
{
    const SettingsBlock& b = config.m_block;
    config.m_nSector = b[kByteSector];
    config.m_nBlockNumber = b[kByteBlockNumber];
    config.m_nStartAddress = b[kByteRange] & 0x0F;
    config.m_nEndAddress = b[kByteRange] >> 4;
    if (config.m_eOutputMode != OutputMode::SectorData)
        return true;
    if (config.m_nSector > 15) {
        return Fail(strReason, "sector " + std::to_string(config.m_nSector) + " does not exist (0 to 15)");
    }
    if (config.m_nBlockNumber / 4 != config.m_nSector) {
        return Fail(strReason, "block number " + std::to_string(config.m_nBlockNumber) + " is not in sector " +
                                   std::to_string(config.m_nSector));
    }
    std::uint8_t range = 0;
    if (!EncodeRangeByte(config.m_nStartAddress, config.m_nEndAddress, range)) {
        return Fail(strReason, "byte range " + Hex(b[kByteRange]) + " (start " +
                                   std::to_string(config.m_nStartAddress) + ", end " +
                                   std::to_string(config.m_nEndAddress) + ") is not 1 to 5 bytes in order");
    }
    return true;
}

}  // namespace

bool DecodeConfigurationFrame(std::span<const std::uint8_t> bytes, DecodedConfiguration& out, std::string& strReason)
{
    DecodedFrame frame;
    if (!DecodeFrame(bytes, frame, strReason))
        return false;
    if (frame.m_nCommand != kConfigurationCommand) {
        return Fail(strReason, "command is " + Hex(frame.m_nCommand) + ", not the configuration command " +
                                   Hex(kConfigurationCommand));
    }
    if (frame.m_data.size() != kSettingsBlockSize) {
        return Fail(strReason, "carries " + std::to_string(frame.m_data.size()) + " data bytes, a configuration has " +
                                   std::to_string(kSettingsBlockSize));
    }
    DecodedConfiguration config;
    std::ranges::copy(frame.m_data, config.m_block.begin());
    if (!DecodeOutput(config, strReason) || !DecodeSwitches(config, strReason) ||
        !DecodeSectorRange(config, strReason)) {
        return false;
    }
    const SettingsBlock& b = config.m_block;
    config.m_nImpulseInterval = b[kByteImpulseInterval];
    config.m_nImpulseWidth = b[kByteImpulseWidth];
    if (config.m_nImpulseInterval == 0)
        return Fail(strReason, "impulse interval 0 (1 to 255 units)");
    if (config.m_nImpulseWidth == 0)
        return Fail(strReason, "impulse width 0 (1 to 255 units)");

    std::copy_n(b.begin() + kByteKey, config.m_key.size(), config.m_key.begin());
    std::copy_n(b.begin() + kBytePassword, config.m_password.size(), config.m_password.begin());
    out = config;
    return true;
}

std::string DescribeConfiguration(const DecodedConfiguration& config)
{
    const SettingsBlock& b = config.m_block;
    const bool bSector = config.m_eOutputMode == OutputMode::SectorData;
    const std::string unused = bSector ? "" : " (not used in UID output)";
    std::string text;
    auto line = [&text](const std::string& s) { text += s + '\n'; };

    line("Output mode: " + std::string(bSector ? "sector data after key checking" : "card UID") + " (" +
         Hex(b[kByteOutputMode]) + ")");
    if (config.m_eInterface == InterfaceKind::Wiegand) {
        line("Interface: Wiegand, " + std::string(WiegandLengthLabel(config.m_eWiegandLength)) + " (" +
             Hex(b[kByteInterface]) + ")");
    } else {
        line("Interface: ABA, format " + std::string(AbaFormatLabel(config.m_eAbaFormat)) + " (" +
             Hex(b[kByteInterface]) + ")");
    }
    line("Sector: " + std::to_string(config.m_nSector) + ", block " + std::to_string(config.m_nBlockNumber % 4) +
         " of the sector (block " + std::to_string(config.m_nBlockNumber) + " of the card)" + unused);
    line("Key: " + std::string(KeyTypeLabel(config.m_eKeyType)) + ", bytes " + HexBytes(config.m_key) + unused);
    const int nRange = config.m_nEndAddress - config.m_nStartAddress + 1;
    line("Byte range in the block: start " + std::to_string(config.m_nStartAddress) + ", end " +
         std::to_string(config.m_nEndAddress) + ", " + std::to_string(nRange) + (nRange == 1 ? " byte" : " bytes") +
         " (" + Hex(b[kByteRange]) + ")" + unused);
    line("Byte order: " +
         std::string(config.m_eByteOrder == ByteOrder::MsbFirst ? "most significant byte first"
                                                                : "least significant byte first") +
         unused);
    const std::string noWiegand = config.m_eInterface == InterfaceKind::Aba ? " (not used by ABA)" : "";
    line("Impulse interval: " + Units(config.m_nImpulseInterval) + noWiegand);
    line("Impulse width: " + Units(config.m_nImpulseWidth) + noWiegand);
    line("Configuration locking: " + std::string(config.m_bConfigLocking ? "on" : "off") + " (" + Hex(b[kByteLocking]) +
         ")");
    line("Configuration password: " + HexBytes(config.m_password));
    line("Password protection: " + std::string(config.m_bPasswordProtection ? "enabled" : "disabled"));
    return text;
}

}  // namespace varnis
