#include "ui/core/FormChoices.h"

#include "ui/core/FormIds.h"
#include "ui/core/MemorySurface.h"
#include "ui/core/VarnisDlgCore.h"

#include <array>
#include <utility>

namespace varnis {

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
