#include "ui/core/FormChoices.h"

#include "ui/core/FormIds.h"
#include "ui/core/MemorySurface.h"
#include "ui/core/VarnisDlgCore.h"
#include "config/TextCharacters.h"

#include <array>
#include <utility>

namespace varnis {
namespace {

template <typename T>
struct Word {
    std::string_view m_strWord;
    T m_value;
};

template <typename T, std::size_t N>
bool LookUp(const std::array<Word<T>, N>& words, std::string_view value, T& out)
{
    const std::string key = Normalised(value);
    for (const auto& word : words) {
        if (key == word.m_strWord) {
            out = word.m_value;
            return true;
        }
    }
    return false;
}

// Each choice's word, and the form's own label for it (lower case, blanks
// made single: what Normalised makes of a value).
constexpr std::array<Word<OutputMode>, 8> kModeWords{{
    {"uid", OutputMode::Uid},
    {"sector", OutputMode::SectorData},
    {"mode0", OutputMode::Uid},
    {"mode1", OutputMode::SectorData},
    {"mode0\xEF\xBC\x9Aoutput uid number", OutputMode::Uid},
    {"mode1\xEF\xBC\x9Aoutput sector data after key checking", OutputMode::SectorData},
    {"mode0: output uid number", OutputMode::Uid},
    {"mode1: output sector data after key checking", OutputMode::SectorData},
}};
constexpr std::array<Word<InterfaceKind>, 2> kInterfaceWords{
    {{"wiegand", InterfaceKind::Wiegand}, {"aba", InterfaceKind::Aba}}};
constexpr std::array<Word<WiegandLength>, 6> kWiegandWords{{
    {"26", WiegandLength::Bits26},
    {"34", WiegandLength::Bits34},
    {"42", WiegandLength::Bits42},
    {"wiegand 26 bits", WiegandLength::Bits26},
    {"wiegand 34 bits", WiegandLength::Bits34},
    {"wiegand 42 bits", WiegandLength::Bits42},
}};
constexpr std::array<Word<ImpulseTiming>, 3> kTimingWords{{{"default", ImpulseTiming::Default},
                                                           {"user", ImpulseTiming::UserDefined},
                                                           {"user-defined", ImpulseTiming::UserDefined}}};
constexpr std::array<Word<ByteOrder>, 4> kOrderWords{{
    {"msb", ByteOrder::MsbFirst},
    {"lsb", ByteOrder::LsbFirst},
    {"most significant byte first", ByteOrder::MsbFirst},
    {"least significant byte first", ByteOrder::LsbFirst},
}};
constexpr std::array<Word<KeyType>, 4> kKeyTypeWords{
    {{"a", KeyType::KeyA}, {"b", KeyType::KeyB}, {"key a", KeyType::KeyA}, {"key b", KeyType::KeyB}}};
constexpr std::array<Word<bool>, 4> kOnOffWords{{{"on", true}, {"off", false}, {"enable", true}, {"disable", false}}};
// The form's labels, lower-cased, and a compact spelling of each.
constexpr std::array<Word<AbaFormat>, 10> kAbaWords{{
    {"8h to 10d", AbaFormat::H8ToD10},
    {"6h to 8d", AbaFormat::H6ToD8},
    {"6h to 10d", AbaFormat::H6ToD10},
    {"4h+2h to 10d", AbaFormat::H4H2ToD10},
    {"4h+2h to 8d", AbaFormat::H4H2ToD8},
    {"8h-10d", AbaFormat::H8ToD10},
    {"6h-8d", AbaFormat::H6ToD8},
    {"6h-10d", AbaFormat::H6ToD10},
    {"4h+2h-10d", AbaFormat::H4H2ToD10},
    {"4h+2h-8d", AbaFormat::H4H2ToD8},
}};

}  // namespace

bool ParseChoiceWord(std::string_view word, OutputMode& out)
{
    return LookUp(kModeWords, word, out);
}

bool ParseChoiceWord(std::string_view word, InterfaceKind& out)
{
    return LookUp(kInterfaceWords, word, out);
}

bool ParseChoiceWord(std::string_view word, WiegandLength& out)
{
    return LookUp(kWiegandWords, word, out);
}

bool ParseChoiceWord(std::string_view word, AbaFormat& out)
{
    return LookUp(kAbaWords, word, out);
}

bool ParseChoiceWord(std::string_view word, ImpulseTiming& out)
{
    return LookUp(kTimingWords, word, out);
}

bool ParseChoiceWord(std::string_view word, ByteOrder& out)
{
    return LookUp(kOrderWords, word, out);
}

bool ParseChoiceWord(std::string_view word, KeyType& out)
{
    return LookUp(kKeyTypeWords, word, out);
}

bool ParseChoiceWord(std::string_view word, bool& out)
{
    return LookUp(kOnOffWords, word, out);
}

// The clicks and the typing a user would do on a freshly connected form, in
// an order the form allows: a choice is clicked while its group is enabled,
// the interface before its own formats.
void FillInForm(const FormChoices& c, MemorySurface& surface, VarnisDlgCore& core)
{
    const auto Click = [&surface, &core](int nId) {
        surface.MarkAsClicked(nId);
        core.OnCommand(nId);
    };
    // Key type and byte order are clicked after sector data output is chosen
    // (the command line takes them with --mode sector only).
    if (c.m_eMode) {
        Click(*c.m_eMode == OutputMode::Uid ? kIdMode0 : kIdMode1);
    }
    if (c.m_eKeyType) {
        Click(*c.m_eKeyType == KeyType::KeyA ? kIdKeyA : kIdKeyB);
    }
    if (c.m_eByteOrder) {
        Click(*c.m_eByteOrder == ByteOrder::MsbFirst ? kIdMsbFirst : kIdLsbFirst);
    }
    const std::array<std::pair<int, const std::optional<int>*>, 4> lists = {{
        {kIdSector, &c.m_nSector},
        {kIdBlock, &c.m_nBlock},
        {kIdStartAddress, &c.m_nStartAddress},
        {kIdEndAddress, &c.m_nEndAddress},
    }};
    for (const auto& [nId, pChoice] : lists) {
        if (pChoice->has_value()) {
            surface.Select(nId, **pChoice);
        }
    }
    if (c.m_eImpulseTiming) {
        Click(*c.m_eImpulseTiming == ImpulseTiming::Default ? kIdDefaultTiming : kIdUserDefined);
    }
    const std::array<std::pair<int, const std::optional<std::string>*>, 4> texts = {{
        {kIdImpulseWidth, &c.m_strImpulseWidth},
        {kIdImpulseInterval, &c.m_strImpulseInterval},
        {kIdKey, &c.m_strKey},
        {kIdPassword, &c.m_strPassword},
    }};
    for (const auto& [nId, pText] : texts) {
        if (pText->has_value()) {
            surface.SetText(nId, **pText);
        }
    }
    // The interface takes the typed texts; then its own format.
    Click(c.m_eInterface.value_or(InterfaceKind::Wiegand) == InterfaceKind::Aba ? kIdAba : kIdWiegand);
    if (c.m_eWiegandLength) {
        constexpr std::array kLengths = {kIdWiegand26, kIdWiegand34, kIdWiegand42};
        Click(kLengths.at(static_cast<std::size_t>(*c.m_eWiegandLength)));
    }
    if (c.m_eAbaFormat) {
        constexpr std::array kFormats = {kIdAba8HTo10D, kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D, kIdAba4H2HTo8D};
        Click(kFormats.at(static_cast<std::size_t>(*c.m_eAbaFormat)));
    }
    if (c.m_bPasswordProtection) {
        Click(*c.m_bPasswordProtection ? kIdPasswordEnable : kIdPasswordDisable);
    }
    if (c.m_bConfigLocking.value_or(false) && !surface.IsChecked(kIdLocking)) {
        Click(kIdLocking);
    }
}

}  // namespace varnis
