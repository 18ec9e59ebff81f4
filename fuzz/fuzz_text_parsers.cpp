// The text parsers and a whole build, fed from the input: one byte of choices,
// four list selections, then the four edit-field texts separated by '\n'.
#include "config/ChoiceRules.h"
#include "config/FrameDecoder.h"
#include "config/SettingsBuild.h"
#include "config/FakeBuildForm.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Require(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

// An independent reading of the impulse rule: one to three ASCII digits, 1 to 255.
bool ImpulseOracle(std::string_view text, std::uint8_t& out)
{
    if (text.empty() || text.size() > 3)
        return false;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 255)
        return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

void CheckParsers(std::string_view text)
{
    using namespace varnis;
    test::RecordingSink sink;
    std::array<std::uint8_t, 6> key{};
    const int nKey = ParseKeyText(text, key, sink);
    Require(nKey >= 0 && nKey <= 6);
    Require(sink.m_messages.size() == (nKey == 6 ? 0U : 1U));
    sink.m_messages.clear();
    std::array<std::uint8_t, 4> password{};
    const int nPassword = ParsePasswordText(text, password, sink);
    Require(nPassword >= 0 && nPassword <= 4);
    Require(sink.m_messages.size() == (nPassword == 4 ? 0U : 1U));

    std::uint8_t impulse = 0;
    std::uint8_t expected = 0;
    const bool bImpulse = ParseImpulseText(text, impulse);
    Require(bImpulse == ImpulseOracle(text, expected));
    Require(!bImpulse || impulse == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnis;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckParsers(input);
    if (size < 5)
        return 0;

    const std::uint8_t choices = data[0];
    test::FakeBuildForm form;
    BuildState state;
    CardSettings& s = form.m_settings;
    SettingsBlock& block = state.m_settingsBlock;
    ApplyConnectionDefaults(s, block);
    ChooseAbaFormat(s, block, static_cast<AbaFormat>((choices >> 5) % 5));
    ChooseWiegandLength(s, block, static_cast<WiegandLength>(((choices >> 5) & 3) % 3));
    ChooseOutputMode(s, block, (choices & 0x01) != 0 ? OutputMode::SectorData : OutputMode::Uid);
    ChooseInterface(s, block, (choices & 0x02) != 0 ? InterfaceKind::Aba : InterfaceKind::Wiegand);
    ChooseImpulseTiming(s, block, (choices & 0x04) != 0 ? ImpulseTiming::UserDefined : ImpulseTiming::Default);
    ChooseKeyType(s, block, (choices & 0x08) != 0 ? KeyType::KeyB : KeyType::KeyA);
    s.m_bConfigLocking = (choices & 0x10) != 0;
    // Selections a little beyond the lists on both sides, as a list without a
    // selection or a damaged index would give.
    auto selection = [](std::uint8_t b) { return static_cast<int>(b % 20) - 2; };
    form.m_nSector = selection(data[1]);
    form.m_nBlock = selection(data[2]);
    form.m_nStart = selection(data[3]);
    form.m_nEnd = selection(data[4]);

    std::vector<std::string_view> fields;
    std::string_view rest = input.substr(5);
    for (int i = 0; i < 3; ++i) {
        const std::size_t nl = rest.find('\n');
        fields.push_back(rest.substr(0, nl));
        rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
    }
    fields.push_back(rest);
    form.m_strKeyField = fields[0];
    form.m_strIntervalField = fields[1];
    form.m_strWidthField = fields[2];
    form.m_strPasswordField = fields[3];
    for (const std::string_view field : fields)
        CheckParsers(field);

    std::uint8_t range = 0;
    const bool bRange = EncodeRangeByte(form.m_nStart, form.m_nEnd, range);
    Require(bRange == (form.m_nStart >= 0 && form.m_nStart <= form.m_nEnd && form.m_nEnd <= 15 &&
                       form.m_nEnd <= form.m_nStart + 4));

    state.m_stagedBlock.fill(0xA5);
    const BuildState before = state;
    if (BuildSettingsBlock(form, state)) {
        Require(form.m_messages.empty());
        Require(state.m_bFrameReady && state.m_stagedBlock == state.m_settingsBlock);
        // Whatever a build accepts, the device side reads back.
        const ConfigurationFrame frame = AssembleConfigurationFrame(state);
        DecodedConfiguration config;
        std::string strReason;
        Require(DecodeConfigurationFrame(frame, config, strReason));
        Require(config.m_eOutputMode == s.m_eOutputMode && config.m_eInterface == s.m_eInterface);
        Require(config.m_bConfigLocking == s.m_bConfigLocking);
    } else {
        Require(form.m_messages.size() == 1);
        Require(!state.m_bFrameReady && state.m_stagedBlock == before.m_stagedBlock &&
                state.m_settingsBlock == before.m_settingsBlock);
    }
    return 0;
}
