// Reading frames back: the frame rule checked, a configuration frame turned
// back into settings. Never reads past the bytes it is given.
#pragma once

#include "config/CardSettings.h"
#include "config/SettingsBuild.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnis {

// A frame that met the rule: start 0xAA, command (a status in a reply),
// length, data, XOR check of everything before it, end 0x03.
struct DecodedFrame {
    std::uint8_t m_nCommand = 0;
    std::vector<std::uint8_t> m_data;
};

// A frame by the rule around `data`; empty when `data` has more than 255 bytes.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t nCommand, std::span<const std::uint8_t> data);

// True when `bytes` is exactly one frame meeting the rule; otherwise false
// with the reason in plain words.
bool DecodeFrame(std::span<const std::uint8_t> bytes, DecodedFrame& out, std::string& strReason);

// A configuration frame read back. For the settings that do not count in
// the chosen mode the frame carries fixed values, which are kept as read.
struct DecodedConfiguration {
    SettingsBlock m_block{};
    OutputMode m_eOutputMode = OutputMode::Uid;
    InterfaceKind m_eInterface = InterfaceKind::Wiegand;
    WiegandLength m_eWiegandLength = WiegandLength::Bits26;  // meaningful for Wiegand
    AbaFormat m_eAbaFormat = AbaFormat::H8ToD10;             // meaningful for ABA
    int m_nSector = 0;
    int m_nBlockNumber = 0;  // over the whole card: sector * 4 + block
    KeyType m_eKeyType = KeyType::KeyA;
    std::array<std::uint8_t, 6> m_key{};
    int m_nStartAddress = 0;
    int m_nEndAddress = 0;
    ByteOrder m_eByteOrder = ByteOrder::LsbFirst;
    int m_nImpulseInterval = 0;  // units of 50 us
    int m_nImpulseWidth = 0;
    bool m_bConfigLocking = false;
    std::array<std::uint8_t, 4> m_password{};
    bool m_bPasswordProtection = false;
};

// True for a 26-byte frame that meets the rule, carries the configuration
// command with 21 data bytes and only known codes; otherwise false with the reason.
bool DecodeConfigurationFrame(std::span<const std::uint8_t> bytes, DecodedConfiguration& out, std::string& strReason);

// The settings in plain words, one setting a line.
std::string DescribeConfiguration(const DecodedConfiguration& config);

}  // namespace varnis
