// The click rules: what each choice does to the settings, the settings block
// and the controls, the locking confirmation, and choices made by assistive
// technology.
#include "ui/UiTestSupport.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QTest>

#include <gtest/gtest.h>

namespace varnis::uitest {
namespace {

using Ids = std::set<int>;

class ClickRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dlg.SetMessageBoxes(&m_boxes);
        m_dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
        m_dlg.EnterConnectedState();
    }
    std::uint8_t Byte(std::size_t n) const { return m_probe.Build().m_settingsBlock.at(n); }
    bool IsEnabled(int nId) const { return m_probe.Control(nId)->isEnabled(); }

    FakeMessageBoxes m_boxes;
    VarnisDlg m_dlg;
    VarnisDlgProbe m_probe{m_dlg};
};

const Ids kSectorControls = {kIdSector,   kIdBlock,    kIdKeyA,         kIdKeyB,      kIdKey,
                             kIdMsbFirst, kIdLsbFirst, kIdStartAddress, kIdEndAddress};
const Ids kAbaFormats = {kIdAba8HTo10D, kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D, kIdAba4H2HTo8D};

TEST_F(ClickRules, OutputModesSwitchTheSectorControlsAndKeepKeyTypeAndByteOrder)
{
    for (const int nId : kSectorControls)
        EXPECT_FALSE(IsEnabled(nId)) << nId;

    ClickOn(m_dlg, kIdMode1);
    EXPECT_EQ(m_dlg.Settings().m_eOutputMode, OutputMode::SectorData);
    EXPECT_EQ(Byte(0), 0xFE);
    for (const int nId : kSectorControls)
        EXPECT_TRUE(IsEnabled(nId)) << nId;
    ClickOn(m_dlg, kIdKeyB);
    ClickOn(m_dlg, kIdMsbFirst);
    EXPECT_EQ(Byte(4), 0x01);
    EXPECT_EQ(Byte(12), 0x01);

    ClickOn(m_dlg, kIdMode0);
    EXPECT_EQ(Byte(0), 0x01);
    EXPECT_EQ(Byte(4), 0x00);
    EXPECT_EQ(Byte(12), 0x00);
    EXPECT_EQ(Byte(11), 0x40);
    const std::array<std::uint8_t, 6> defaultKey = {0xA5, 0xC3, 0x0F, 0x7E, 0x9B, 0x12};
    for (std::size_t n = 0; n < 6; ++n)
        EXPECT_EQ(Byte(5 + n), defaultKey.at(n));
    for (const int nId : kSectorControls)
        EXPECT_FALSE(IsEnabled(nId)) << nId;
    EXPECT_TRUE(Button(m_dlg, kIdKeyB)->isChecked());  // other groups' check marks stay

    ClickOn(m_dlg, kIdMode1);
    EXPECT_EQ(Byte(4), 0x01);
    EXPECT_EQ(Byte(12), 0x01);
    EXPECT_EQ(m_dlg.Settings().m_eKeyType, KeyType::KeyB);
    EXPECT_EQ(m_dlg.Settings().m_eByteOrder, ByteOrder::MsbFirst);
}

TEST_F(ClickRules, InterfacesRememberBothChoicesAndSwitchTheirGroups)
{
    ClickOn(m_dlg, kIdWiegand34);
    EXPECT_EQ(Byte(1), 0x04);
    ClickOn(m_dlg, kIdAba);
    EXPECT_EQ(Byte(1), 0x08);  // the remembered ABA format
    for (const int nId : kAbaFormats)
        EXPECT_TRUE(IsEnabled(nId)) << nId;
    for (const int nId : {kIdWiegand26, kIdWiegand34, kIdWiegand42, kIdUserDefined, kIdDefaultTiming, kIdImpulseWidth,
                          kIdImpulseInterval})
        EXPECT_FALSE(IsEnabled(nId)) << nId;
    ClickOn(m_dlg, kIdAba6HTo10D);
    EXPECT_EQ(Byte(1), 0x16);

    ClickOn(m_dlg, kIdWiegand);
    EXPECT_EQ(Byte(1), 0x04);
    EXPECT_EQ(m_dlg.Settings().m_eWiegandLength, WiegandLength::Bits34);
    for (const int nId : kAbaFormats)
        EXPECT_FALSE(IsEnabled(nId)) << nId;
    ClickOn(m_dlg, kIdWiegand42);
    EXPECT_EQ(Byte(1), 0x05);
    ClickOn(m_dlg, kIdAba);
    EXPECT_EQ(Byte(1), 0x16);
    EXPECT_TRUE(Button(m_dlg, kIdAba6HTo10D)->isChecked());

    const std::vector<std::pair<int, std::uint8_t>> codes = {
        {kIdAba8HTo10D, 0x08}, {kIdAba6HTo8D, 0x06}, {kIdAba4H2HTo10D, 0x24}, {kIdAba4H2HTo8D, 0x25}};
    for (const auto& [nId, nCode] : codes) {
        ClickOn(m_dlg, nId);
        EXPECT_EQ(Byte(1), nCode) << nId;
    }
}

TEST_F(ClickRules, ImpulseTimingEnablesTheFieldsAndDefaultPutsBackOnlyTheirTexts)
{
    EXPECT_FALSE(IsEnabled(kIdImpulseWidth));
    ClickOn(m_dlg, kIdUserDefined);
    EXPECT_TRUE(IsEnabled(kIdImpulseWidth));
    EXPECT_TRUE(IsEnabled(kIdImpulseInterval));
    EditOf(m_dlg, kIdImpulseWidth)->setText("100");
    EditOf(m_dlg, kIdImpulseInterval)->setText("7");

    // "ABA" and back: the fields come back enabled with what was left in them.
    ClickOn(m_dlg, kIdAba);
    EXPECT_FALSE(IsEnabled(kIdImpulseWidth));
    EXPECT_TRUE(Button(m_dlg, kIdUserDefined)->isChecked());
    ClickOn(m_dlg, kIdWiegand);
    EXPECT_TRUE(IsEnabled(kIdImpulseWidth));
    EXPECT_TRUE(IsEnabled(kIdImpulseInterval));
    EXPECT_EQ(EditOf(m_dlg, kIdImpulseWidth)->text(), "100");
    EXPECT_TRUE(Button(m_dlg, kIdUserDefined)->isChecked());

    ClickOn(m_dlg, kIdMode1);
    EditOf(m_dlg, kIdKey)->setText("FFEEDDCCBBAA");
    ClickOn(m_dlg, kIdDefaultTiming);
    EXPECT_EQ(EditOf(m_dlg, kIdImpulseWidth)->text(), "08");
    EXPECT_EQ(EditOf(m_dlg, kIdImpulseInterval)->text(), "40");
    EXPECT_EQ(EditOf(m_dlg, kIdKey)->text(), "FFEEDDCCBBAA");
    EXPECT_FALSE(IsEnabled(kIdImpulseWidth));
    EXPECT_FALSE(IsEnabled(kIdImpulseInterval));
    EXPECT_EQ(m_dlg.Settings().m_eImpulseTiming, ImpulseTiming::Default);
}

TEST_F(ClickRules, AClickOnAnAlreadyCheckedButtonRunsItsRuleAgain)
{
    ClickOn(m_dlg, kIdUserDefined);
    EditOf(m_dlg, kIdImpulseWidth)->setText("99");
    ClickOn(m_dlg, kIdDefaultTiming);
    EditOf(m_dlg, kIdImpulseWidth)->setText("77");  // typed while disabled by the program, say
    ASSERT_TRUE(Button(m_dlg, kIdDefaultTiming)->isChecked());
    ClickOn(m_dlg, kIdDefaultTiming);
    EXPECT_EQ(EditOf(m_dlg, kIdImpulseWidth)->text(), "08");
    EXPECT_EQ(Byte(13), 0x28);
    EXPECT_EQ(Byte(14), 0x08);
}

TEST_F(ClickRules, PasswordProtectionChangesByte20Only)
{
    const SettingsBlock before = m_probe.Build().m_settingsBlock;
    ClickOn(m_dlg, kIdPasswordEnable);
    SettingsBlock expected = before;
    expected.at(20) = 0x01;
    EXPECT_EQ(m_probe.Build().m_settingsBlock, expected);
    EXPECT_TRUE(m_dlg.Settings().m_bPasswordProtection);
    EXPECT_TRUE(IsEnabled(kIdPassword));
    ClickOn(m_dlg, kIdPasswordDisable);
    EXPECT_EQ(m_probe.Build().m_settingsBlock, before);
    EXPECT_TRUE(IsEnabled(kIdPassword));
}

TEST_F(ClickRules, LockingAsksFirstAndCancelLeavesItOff)
{
    m_boxes.m_confirmAnswers = {false};
    ClickOn(m_dlg, kIdLocking);
    ASSERT_EQ(m_boxes.m_records.size(), 1U);
    const BoxRecord& box = m_boxes.m_records.front();
    EXPECT_EQ(box.m_eKind, BoxRecord::Kind::Confirm);
    EXPECT_EQ(box.m_strCaption, "Warning");
    EXPECT_EQ(box.m_strText,
              "Configuration will not be able to change after configuration locking "
              "enabled,are you sure to start the operation?");
    EXPECT_TRUE(box.m_bOwned);
    EXPECT_FALSE(Button(m_dlg, kIdLocking)->isChecked());
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 0);

    m_boxes.m_confirmAnswers = {true};
    ClickOn(m_dlg, kIdLocking);
    EXPECT_EQ(m_boxes.m_records.size(), 2U);
    EXPECT_TRUE(Button(m_dlg, kIdLocking)->isChecked());
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 1);
    EXPECT_TRUE(m_dlg.Settings().m_bConfigLocking);

    ClickOn(m_dlg, kIdLocking);  // clearing asks nothing
    EXPECT_EQ(m_boxes.m_records.size(), 2U);
    EXPECT_FALSE(Button(m_dlg, kIdLocking)->isChecked());
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 0);
}

// Assistive technology toggles a control through its accessible action, which
// changes the check mark without a click: the rule must run all the same.
void ToggleAccessibly(QWidget* pControl)
{
    QAccessibleInterface* pInterface = QAccessible::queryAccessibleInterface(pControl);
    ASSERT_NE(pInterface, nullptr);
    QAccessibleActionInterface* pActions = pInterface->actionInterface();
    ASSERT_NE(pActions, nullptr);
    ASSERT_TRUE(pActions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    pActions->doAction(QAccessibleActionInterface::toggleAction());
}

TEST_F(ClickRules, ChoicesMadeThroughAssistiveTechnologyRunTheirRules)
{
    ToggleAccessibly(m_probe.Control(kIdMode1));
    EXPECT_TRUE(Button(m_dlg, kIdMode1)->isChecked());
    EXPECT_EQ(Byte(0), 0xFE);
    EXPECT_TRUE(IsEnabled(kIdKeyB));
    ToggleAccessibly(m_probe.Control(kIdKeyB));
    EXPECT_EQ(Byte(4), 0x01);
    EXPECT_EQ(m_dlg.Settings().m_eKeyType, KeyType::KeyB);

    m_boxes.m_confirmAnswers = {false};
    ToggleAccessibly(m_probe.Control(kIdLocking));
    ASSERT_EQ(m_boxes.m_records.size(), 1U);
    EXPECT_FALSE(Button(m_dlg, kIdLocking)->isChecked());
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 0);

    m_boxes.m_confirmAnswers = {true};
    ToggleAccessibly(m_probe.Control(kIdLocking));
    EXPECT_TRUE(Button(m_dlg, kIdLocking)->isChecked());
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 1);
    ToggleAccessibly(m_probe.Control(kIdLocking));
    EXPECT_FALSE(Button(m_dlg, kIdLocking)->isChecked());
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 0);
    EXPECT_EQ(m_boxes.m_records.size(), 2U);
}

TEST_F(ClickRules, DisabledControlsTakeNoClicks)
{
    ClickOn(m_dlg, kIdAba6HTo8D);  // ABA formats are disabled while WIEGAND is chosen
    EXPECT_EQ(Byte(1), 0x02);
    EXPECT_FALSE(Button(m_dlg, kIdAba6HTo8D)->isChecked());
}

}  // namespace
}  // namespace varnis::uitest
