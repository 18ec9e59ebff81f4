// The click rules over the window's core: what each choice does to the
// settings, the settings block and the controls, and the locking
// confirmation. A click sets the mark as a toolkit does and reaches the core
// through its one entry for clicks.
#include "tests/ui/core/RecordingSurface.h"
#include "ui/core/VarnisDlgCore.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <utility>
#include <vector>

namespace varnis::coretest {
namespace {

using Ids = std::set<int>;

class ClickRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_core.OnInitMainWindow();
        m_core.EnterConnectedState();
    }
    std::uint8_t Byte(std::size_t n) const { return m_core.Build().m_settingsBlock.at(n); }
    bool IsEnabled(int nId) const { return m_surface.IsEnabled(nId); }
    bool IsChecked(int nId) const { return m_surface.IsChecked(nId); }
    void ClickOn(int nId)
    {
        m_surface.MarkAsClicked(nId);
        m_core.OnCommand(nId);
    }

    EventLoop m_loop;
    RecordingSurface m_surface;
    RecordingShell m_shell;
    VarnisDlgCore m_core{m_surface, m_shell, m_shell, m_loop};
};

const Ids kSectorControls = {kIdSector,   kIdBlock,    kIdKeyA,         kIdKeyB,      kIdKey,
                             kIdMsbFirst, kIdLsbFirst, kIdStartAddress, kIdEndAddress};
const Ids kAbaFormats = {kIdAba8HTo10D, kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D, kIdAba4H2HTo8D};

TEST_F(ClickRules, OutputModesSwitchTheSectorControlsAndKeepKeyTypeAndByteOrder)
{
    for (const int nId : kSectorControls)
        EXPECT_FALSE(IsEnabled(nId)) << nId;

    ClickOn(kIdMode1);
    EXPECT_EQ(m_core.Settings().m_eOutputMode, OutputMode::SectorData);
    EXPECT_EQ(Byte(0), 0xFE);
    for (const int nId : kSectorControls)
        EXPECT_TRUE(IsEnabled(nId)) << nId;
    ClickOn(kIdKeyB);
    ClickOn(kIdMsbFirst);
    EXPECT_EQ(Byte(4), 0x01);
    EXPECT_EQ(Byte(12), 0x01);

    ClickOn(kIdMode0);
    EXPECT_EQ(Byte(0), 0x01);
    EXPECT_EQ(Byte(4), 0x00);
    EXPECT_EQ(Byte(12), 0x00);
    EXPECT_EQ(Byte(11), 0x40);
    const std::array<std::uint8_t, 6> defaultKey = {0xA5, 0xC3, 0x0F, 0x7E, 0x9B, 0x12};
    for (std::size_t n = 0; n < 6; ++n)
        EXPECT_EQ(Byte(5 + n), defaultKey.at(n));
    for (const int nId : kSectorControls)
        EXPECT_FALSE(IsEnabled(nId)) << nId;
    EXPECT_TRUE(IsChecked(kIdKeyB));  // other groups' check marks stay

    ClickOn(kIdMode1);
    EXPECT_EQ(Byte(4), 0x01);
    EXPECT_EQ(Byte(12), 0x01);
    EXPECT_EQ(m_core.Settings().m_eKeyType, KeyType::KeyB);
    EXPECT_EQ(m_core.Settings().m_eByteOrder, ByteOrder::MsbFirst);
}

TEST_F(ClickRules, InterfacesRememberBothChoicesAndSwitchTheirGroups)
{
    ClickOn(kIdWiegand34);
    EXPECT_EQ(Byte(1), 0x04);
    ClickOn(kIdAba);
    EXPECT_EQ(Byte(1), 0x08);  // the remembered ABA format
    for (const int nId : kAbaFormats)
        EXPECT_TRUE(IsEnabled(nId)) << nId;
    for (const int nId : {kIdWiegand26, kIdWiegand34, kIdWiegand42, kIdUserDefined, kIdDefaultTiming, kIdImpulseWidth,
                          kIdImpulseInterval})
        EXPECT_FALSE(IsEnabled(nId)) << nId;
    ClickOn(kIdAba6HTo10D);
    EXPECT_EQ(Byte(1), 0x16);

    ClickOn(kIdWiegand);
    EXPECT_EQ(Byte(1), 0x04);
    EXPECT_EQ(m_core.Settings().m_eWiegandLength, WiegandLength::Bits34);
    for (const int nId : kAbaFormats)
        EXPECT_FALSE(IsEnabled(nId)) << nId;
    ClickOn(kIdWiegand42);
    EXPECT_EQ(Byte(1), 0x05);
    ClickOn(kIdAba);
    EXPECT_EQ(Byte(1), 0x16);
    EXPECT_TRUE(IsChecked(kIdAba6HTo10D));

    const std::vector<std::pair<int, std::uint8_t>> codes = {
        {kIdAba8HTo10D, 0x08}, {kIdAba6HTo8D, 0x06}, {kIdAba4H2HTo10D, 0x24}, {kIdAba4H2HTo8D, 0x25}};
    for (const auto& [nId, nCode] : codes) {
        ClickOn(nId);
        EXPECT_EQ(Byte(1), nCode) << nId;
    }
}

TEST_F(ClickRules, ImpulseTimingEnablesTheFieldsAndDefaultPutsBackOnlyTheirTexts)
{
    EXPECT_FALSE(IsEnabled(kIdImpulseWidth));
    ClickOn(kIdUserDefined);
    EXPECT_TRUE(IsEnabled(kIdImpulseWidth));
    EXPECT_TRUE(IsEnabled(kIdImpulseInterval));
    m_surface.SetText(kIdImpulseWidth, "100");
    m_surface.SetText(kIdImpulseInterval, "7");

    // "ABA" and back: the fields come back enabled with what was left in them.
    ClickOn(kIdAba);
    EXPECT_FALSE(IsEnabled(kIdImpulseWidth));
    EXPECT_TRUE(IsChecked(kIdUserDefined));
    ClickOn(kIdWiegand);
    EXPECT_TRUE(IsEnabled(kIdImpulseWidth));
    EXPECT_TRUE(IsEnabled(kIdImpulseInterval));
    EXPECT_EQ(m_surface.Text(kIdImpulseWidth), "100");
    EXPECT_TRUE(IsChecked(kIdUserDefined));

    ClickOn(kIdMode1);
    m_surface.SetText(kIdKey, "FFEEDDCCBBAA");
    ClickOn(kIdDefaultTiming);
    EXPECT_EQ(m_surface.Text(kIdImpulseWidth), "08");
    EXPECT_EQ(m_surface.Text(kIdImpulseInterval), "40");
    EXPECT_EQ(m_surface.Text(kIdKey), "FFEEDDCCBBAA");
    EXPECT_FALSE(IsEnabled(kIdImpulseWidth));
    EXPECT_FALSE(IsEnabled(kIdImpulseInterval));
    EXPECT_EQ(m_core.Settings().m_eImpulseTiming, ImpulseTiming::Default);
}

TEST_F(ClickRules, AClickOnAnAlreadyCheckedButtonRunsItsRuleAgain)
{
    ClickOn(kIdUserDefined);
    m_surface.SetText(kIdImpulseWidth, "99");
    ClickOn(kIdDefaultTiming);
    m_surface.SetText(kIdImpulseWidth, "77");  // typed while disabled by the program, say
    ASSERT_TRUE(IsChecked(kIdDefaultTiming));
    ClickOn(kIdDefaultTiming);
    EXPECT_EQ(m_surface.Text(kIdImpulseWidth), "08");
    EXPECT_EQ(Byte(13), 0x28);
    EXPECT_EQ(Byte(14), 0x08);
}

TEST_F(ClickRules, PasswordProtectionChangesByte20Only)
{
    const SettingsBlock before = m_core.Build().m_settingsBlock;
    ClickOn(kIdPasswordEnable);
    SettingsBlock expected = before;
    expected.at(20) = 0x01;
    EXPECT_EQ(m_core.Build().m_settingsBlock, expected);
    EXPECT_TRUE(m_core.Settings().m_bPasswordProtection);
    EXPECT_TRUE(IsEnabled(kIdPassword));
    ClickOn(kIdPasswordDisable);
    EXPECT_EQ(m_core.Build().m_settingsBlock, before);
    EXPECT_TRUE(IsEnabled(kIdPassword));
}

TEST_F(ClickRules, LockingAsksFirstAndCancelLeavesItOff)
{
    const std::string question =
        "Warning? Configuration will not be able to change after configuration locking "
        "enabled,are you sure to start the operation?";
    m_shell.m_bConfirmAnswer = false;
    ClickOn(kIdLocking);
    EXPECT_EQ(m_shell.m_messages, std::vector<std::string>{question});
    EXPECT_FALSE(IsChecked(kIdLocking));
    EXPECT_EQ(m_core.ConfigLockingFlag(), 0);

    m_shell.m_bConfirmAnswer = true;
    ClickOn(kIdLocking);
    EXPECT_EQ(m_shell.m_messages.size(), 2U);
    EXPECT_TRUE(IsChecked(kIdLocking));
    EXPECT_EQ(m_core.ConfigLockingFlag(), 1);
    EXPECT_TRUE(m_core.Settings().m_bConfigLocking);

    ClickOn(kIdLocking);  // clearing asks nothing
    EXPECT_EQ(m_shell.m_messages.size(), 2U);
    EXPECT_FALSE(IsChecked(kIdLocking));
    EXPECT_EQ(m_core.ConfigLockingFlag(), 0);
}

TEST_F(ClickRules, DisabledControlsTakeNoClicks)
{
    ClickOn(kIdAba6HTo8D);  // ABA formats are disabled while WIEGAND is chosen
    EXPECT_EQ(Byte(1), 0x02);
    EXPECT_FALSE(IsChecked(kIdAba6HTo8D));
}

}  // namespace
}  // namespace varnis::coretest
