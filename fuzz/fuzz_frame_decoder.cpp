// Arbitrary bytes through the frame decoder, as received and as the data of a
// frame that meets the rule (so the settings checks are reached often).
#include "config/FrameDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

void Require(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

void CheckConfiguration(std::span<const std::uint8_t> bytes)
{
    using namespace varnis;
    DecodedConfiguration config;
    std::string strReason;
    if (!DecodeConfigurationFrame(bytes, config, strReason)) {
        Require(!strReason.empty());
        return;
    }
    // What was accepted is exactly a configuration frame of its own block.
    Require(bytes.size() == kConfigurationFrameSize);
    const std::vector<std::uint8_t> again = EncodeFrame(kConfigurationCommand, config.m_block);
    Require(std::equal(again.begin(), again.end(), bytes.begin(), bytes.end()));
    Require(config.m_nImpulseInterval >= 1 && config.m_nImpulseInterval <= 255);
    Require(config.m_nImpulseWidth >= 1 && config.m_nImpulseWidth <= 255);
    const std::string text = DescribeConfiguration(config);
    Require(std::count(text.begin(), text.end(), '\n') == 11);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnis;
    const std::span<const std::uint8_t> bytes(data, size);

    DecodedFrame frame;
    std::string strReason;
    if (DecodeFrame(bytes, frame, strReason)) {
        const std::vector<std::uint8_t> again = EncodeFrame(frame.m_nCommand, frame.m_data);
        Require(std::equal(again.begin(), again.end(), bytes.begin(), bytes.end()));
    } else {
        Require(!strReason.empty());
    }
    CheckConfiguration(bytes);

    if (size >= kSettingsBlockSize) {
        CheckConfiguration(EncodeFrame(kConfigurationCommand, bytes.first(kSettingsBlockSize)));
    }
    return 0;
}
