#include "config/ChoiceRules.h"
#include "config/SettingsBuild.h"
#include "config/FakeBuildForm.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace varnis {
namespace {

using test::FakeBuildForm;
using test::ShownMessage;

// A form right after a connection has put the defaults back.
struct Connected {
    Connected() { ApplyConnectionDefaults(form.m_settings, state.m_settingsBlock); }
    FakeBuildForm form;
    BuildState state;
};

TEST(BuildSettingsBlock, DefaultUidFrameAfterConnection)
{
    Connected c;
    ASSERT_TRUE(BuildSettingsBlock(c.form, c.state));
    EXPECT_TRUE(c.form.m_messages.empty());
    EXPECT_TRUE(c.state.m_bFrameReady);
    EXPECT_EQ(c.form.m_nListReads, 0) << "UID output reads no list";
    const ConfigurationFrame expected{0xAA, 0x20, 0x15, 0x01, 0x02, 0x00, 0x00, 0x00, 0xA5, 0xC3, 0x0F, 0x7E, 0x9B,
                                      0x12, 0x40, 0x00, 0x28, 0x08, 0xAA, 0x47, 0x15, 0x02, 0x63, 0x00, 0xFB, 0x03};
    EXPECT_EQ(AssembleConfigurationFrame(c.state), expected);
}

TEST(BuildSettingsBlock, SectorDataAbaExample)
{
    Connected c;
    test::ChooseSectorDataExample(c.form, c.state.m_settingsBlock);
    ASSERT_TRUE(BuildSettingsBlock(c.form, c.state));
    const SettingsBlock expected{0xFE, 0x16, 0x02, 0x09, 0x01, 0xA5, 0xC3, 0x0F, 0x7E, 0x9B, 0x12,
                                 0x62, 0x01, 0x28, 0x08, 0x5A, 0x47, 0x15, 0x02, 0x63, 0x01};
    EXPECT_EQ(c.state.m_stagedBlock, expected);
    EXPECT_EQ(AssembleConfigurationFrame(c.state)[18], 0x5A) << "locking sits at offset 18";
}

TEST(BuildSettingsBlock, PortClosedReadsNothingAndChangesNothing)
{
    Connected c;
    c.form.m_bPortOpen = false;
    c.form.m_settings.m_eOutputMode = OutputMode::SectorData;
    c.form.m_strKeyField = "bad";
    c.state.m_stagedBlock.fill(0x33);
    const BuildState before = c.state;
    EXPECT_FALSE(BuildSettingsBlock(c.form, c.state));
    EXPECT_EQ(c.form.m_messages, (std::vector<ShownMessage>{{"Port not open,please open it", "Warning"}}));
    EXPECT_EQ(c.form.m_nTextReads, 0);
    EXPECT_EQ(c.form.m_nListReads, 0);
    EXPECT_EQ(c.state.m_stagedBlock, before.m_stagedBlock);
    EXPECT_EQ(c.state.m_settingsBlock, before.m_settingsBlock);
    EXPECT_FALSE(c.state.m_bFrameReady);
}

// Each case breaks one or more fields of a sector-data form; only the first
// failing check speaks, and the state stays as it was.
TEST(BuildSettingsBlock, FirstFailingCheckOnlyAndStateUntouched)
{
    const ShownMessage key{"KEY data invalid.", "Warning"};
    const ShownMessage range{"Block address definition invalid.", "Warning"};
    const ShownMessage impulse{"Impulse parameter definition invalid.", "Warning"};
    auto user = [](FakeBuildForm& f) { f.m_settings.m_eImpulseTiming = ImpulseTiming::UserDefined; };
    const std::vector<std::pair<std::function<void(FakeBuildForm&)>, ShownMessage>> cases{
        {[](FakeBuildForm& f) { f.m_strKeyField = "A5C30F7E9B1"; }, {"KEY length invalid.", "Warning"}},
        {[](FakeBuildForm& f) { f.m_strKeyField = "A5C30F7E9BZ2", f.m_nEnd = 9, f.m_strPasswordField = "1"; }, key},
        {[](FakeBuildForm& f) { f.m_nEnd = 5; }, range},
        {[&](FakeBuildForm& f) { f.m_nStart = 5, f.m_nEnd = 4, user(f), f.m_strWidthField = "0"; }, range},
        {[](FakeBuildForm& f) { f.m_nSector = -1; }, range},  // a list without a selection
        {[](FakeBuildForm& f) { f.m_nBlock = 4; }, range},
        {[&](FakeBuildForm& f) { user(f), f.m_strWidthField = "0", f.m_strPasswordField = "xx"; }, impulse},
        {[&](FakeBuildForm& f) { user(f), f.m_strWidthField = "256"; }, impulse},
        {[&](FakeBuildForm& f) { user(f), f.m_strIntervalField = ""; }, impulse},
        {[](FakeBuildForm& f) { f.m_strPasswordField = "4715026"; },
         {"Configuration password length invalid.", "Warnning"}},
        {[](FakeBuildForm& f) { f.m_strPasswordField = "4715026G"; },
         {"Configuration password data invalid.", "Warning"}},
    };
    for (const auto& [breakForm, expected] : cases) {
        Connected c;
        ChooseOutputMode(c.form.m_settings, c.state.m_settingsBlock, OutputMode::SectorData);
        c.state.m_stagedBlock.fill(0x5C);
        breakForm(c.form);
        const BuildState before = c.state;
        EXPECT_FALSE(BuildSettingsBlock(c.form, c.state)) << expected.m_strText;
        EXPECT_EQ(c.form.m_messages, std::vector<ShownMessage>{expected});
        EXPECT_EQ(c.state.m_stagedBlock, before.m_stagedBlock) << expected.m_strText;
        EXPECT_EQ(c.state.m_settingsBlock, before.m_settingsBlock) << expected.m_strText;
        EXPECT_FALSE(c.state.m_bFrameReady) << expected.m_strText;
    }
}

TEST(BuildSettingsBlock, FailureKeepsAnEarlierBuildStagedAndReady)
{
    Connected c;
    ASSERT_TRUE(BuildSettingsBlock(c.form, c.state));
    const BuildState good = c.state;
    c.form.m_strPasswordField = "12";
    EXPECT_FALSE(BuildSettingsBlock(c.form, c.state));
    EXPECT_TRUE(c.state.m_bFrameReady);
    EXPECT_EQ(AssembleConfigurationFrame(c.state), AssembleConfigurationFrame(good));
}

// Texts and lists that do not count in the chosen mode are not checked.
TEST(BuildSettingsBlock, SettingsThatDoNotCountAreNotChecked)
{
    Connected uid;
    uid.form.m_strKeyField = "xyz";
    uid.form.m_nStart = 9, uid.form.m_nEnd = 2;
    ASSERT_TRUE(BuildSettingsBlock(uid.form, uid.state));
    EXPECT_TRUE(std::equal(kDefaultKeyBytes.begin(), kDefaultKeyBytes.end(), uid.state.m_stagedBlock.begin() + 5));
    EXPECT_EQ(uid.state.m_stagedBlock[11], 0x40);

    Connected aba;  // User-defined timing does not count for ABA
    ChooseImpulseTiming(aba.form.m_settings, aba.state.m_settingsBlock, ImpulseTiming::UserDefined);
    ChooseInterface(aba.form.m_settings, aba.state.m_settingsBlock, InterfaceKind::Aba);
    aba.form.m_strWidthField = "999", aba.form.m_strIntervalField = "abc";
    ASSERT_TRUE(BuildSettingsBlock(aba.form, aba.state));
    EXPECT_EQ(aba.state.m_stagedBlock[13], 0x28);
    EXPECT_EQ(aba.state.m_stagedBlock[14], 0x08);
}

TEST(BuildSettingsBlock, LeavesTheChoiceBytesAsTheClicksWroteThem)
{
    Connected c;
    const std::array<std::size_t, 5> choiceBytes{0, 1, 4, 12, 20};
    for (const std::size_t i : choiceBytes)
        c.state.m_settingsBlock[i] = static_cast<std::uint8_t>(0xC0 + i);
    ASSERT_TRUE(BuildSettingsBlock(c.form, c.state));
    for (const std::size_t i : choiceBytes)
        EXPECT_EQ(c.state.m_stagedBlock[i], 0xC0 + i) << i;
}

TEST(AssembleConfigurationFrame, StagedBlockBetweenHeaderAndCheck)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 500; ++round) {
        BuildState state;
        for (auto& b : state.m_stagedBlock)
            b = static_cast<std::uint8_t>(rng());
        state.m_settingsBlock.fill(0xEE);  // only the staged block is sent
        const ConfigurationFrame frame = AssembleConfigurationFrame(state);
        EXPECT_EQ((std::array{frame[0], frame[1], frame[2], frame[25]}),
                  (std::array<std::uint8_t, 4>{0xAA, 0x20, 0x15, 0x03}));
        EXPECT_TRUE(std::equal(state.m_stagedBlock.begin(), state.m_stagedBlock.end(), frame.begin() + 3));
        std::uint8_t x = 0;
        for (std::size_t i = 0; i <= 24; ++i)
            x ^= frame[i];
        EXPECT_EQ(x, 0x00);
    }
}

}  // namespace
}  // namespace varnis
