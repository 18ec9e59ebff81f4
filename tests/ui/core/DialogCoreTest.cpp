// The window's core over a recording form: the start state, both connection
// states with where the focus goes, the click rules' bytes, the locking
// confirmation and the routing of commands. The same source runs on Linux
// and, built for Windows, under Wine.
#include "tests/ui/core/RecordingSurface.h"
#include "ui/core/VarnisDlgCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace varnis::coretest {
namespace {

using Ids = std::set<int>;

class DialogCore : public ::testing::Test {
protected:
    void SetUp() override { m_core.OnInitMainWindow(); }

    Ids Enabled() const
    {
        Ids ids;
        for (const FormItem& item : MainFormItems()) {
            if (item.m_nId != 0 && m_surface.IsEnabled(item.m_nId))
                ids.insert(item.m_nId);
        }
        return ids;
    }
    Ids Checked() const
    {
        Ids ids;
        for (const FormItem& item : MainFormItems()) {
            const bool bMark = item.m_eKind == ControlKind::Radio || item.m_eKind == ControlKind::Check;
            if (bMark && m_surface.IsChecked(item.m_nId))
                ids.insert(item.m_nId);
        }
        return ids;
    }
    void Click(int nId)
    {
        m_surface.MarkAsClicked(nId);
        m_core.OnCommand(nId);
    }
    std::uint8_t Byte(std::size_t n) const { return m_core.Build().m_settingsBlock.at(n); }

    EventLoop m_loop;
    RecordingSurface m_surface;
    RecordingShell m_shell;
    VarnisDlgCore m_core{m_surface, m_shell, m_shell, m_loop};
};

const Ids kStartChecks = {kIdMode0, kIdWiegand,  kIdWiegand26,     kIdAba8HTo10D,
                          kIdKeyA,  kIdLsbFirst, kIdDefaultTiming, kIdPasswordDisable};

TEST_F(DialogCore, StartsWithOnlyExitHelpAndOpenPortAndNoRuleRun)
{
    EXPECT_EQ(Enabled(), (Ids{kIdExit, kIdHelp, kIdOpenPort}));
    EXPECT_EQ(Checked(), kStartChecks);
    EXPECT_EQ(m_surface.FocusedId(), kIdExit);
    const std::vector<int> selections = {m_surface.Selection(kIdSector), m_surface.Selection(kIdBlock),
                                         m_surface.Selection(kIdStartAddress), m_surface.Selection(kIdEndAddress),
                                         m_surface.Selection(kIdPortList)};
    EXPECT_EQ(selections, (std::vector<int>{0, 0, 0, 4, 0}));
    EXPECT_EQ(m_surface.Text(kIdKey), "A5C30F7E9B12");
    EXPECT_EQ(m_surface.Text(kIdImpulseWidth), "08");
    EXPECT_EQ(m_core.Build().m_settingsBlock, SettingsBlock{});
    EXPECT_EQ(m_shell.m_menu, (std::vector<std::string>{"16 " + std::string(kAboutMenuText)}));
    EXPECT_EQ(m_shell.m_nIconsSet, 1);

    // Without the string resource the menu stays as the system made it.
    RecordingSurface surface;
    RecordingShell shell;
    shell.m_strAbout.clear();
    VarnisDlgCore core(surface, shell, shell, m_loop);
    core.OnInitMainWindow();
    EXPECT_TRUE(shell.m_menu.empty());
}

TEST_F(DialogCore, ConnectingResetsTheFormAndDisconnectingOnlyDisables)
{
    m_surface.Focus(kIdOpenPort);
    m_surface.ClearFocusTrail();
    m_core.EnterConnectedState();
    // Straight to ClosePort: never through an edit field on the way.
    EXPECT_EQ(m_surface.FocusTrail(), std::vector<int>{kIdClosePort});
    EXPECT_EQ(Enabled(), (Ids{kIdExit, kIdHelp, kIdMake, kIdClosePort, kIdMode0, kIdMode1, kIdWiegand, kIdAba,
                              kIdWiegand26, kIdWiegand34, kIdWiegand42, kIdDefaultTiming, kIdUserDefined, kIdPassword,
                              kIdPasswordEnable, kIdPasswordDisable, kIdLocking}));
    EXPECT_EQ(Checked(), kStartChecks);
    EXPECT_EQ(m_surface.FocusedId(), kIdClosePort);
    const std::vector<std::uint8_t> head(m_core.Build().m_settingsBlock.begin(),
                                         m_core.Build().m_settingsBlock.begin() + 16);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{0x01, 0x02, 0x00, 0x00, 0x00, 0xA5, 0xC3, 0x0F, 0x7E, 0x9B, 0x12, 0x40,
                                               0x00, 0x28, 0x08, 0xAA}));

    Click(kIdAba);
    Click(kIdPasswordEnable);
    m_core.SetPortOpen(false);
    m_surface.Focus(kIdClosePort);
    m_surface.ClearFocusTrail();
    m_core.EnterDisconnectedState();
    EXPECT_EQ(Enabled(), (Ids{kIdExit, kIdHelp, kIdOpenPort}));
    EXPECT_EQ(m_surface.FocusTrail(), std::vector<int>{kIdOpenPort});
    EXPECT_TRUE(m_surface.IsChecked(kIdAba));
    EXPECT_TRUE(m_surface.IsChecked(kIdPasswordEnable));

    // Help keeps the focus it has through a new connection.
    m_surface.Focus(kIdHelp);
    m_core.EnterConnectedState();
    EXPECT_EQ(m_surface.FocusedId(), kIdHelp);
    EXPECT_EQ(Checked(), kStartChecks);
}

TEST_F(DialogCore, ClickRulesWriteTheirBytes)
{
    struct Row {
        std::vector<int> clicks;
        std::size_t nByte;
        std::uint8_t nValue;
    };
    const std::vector<Row> rows = {
        {{kIdMode1, kIdKeyB, kIdMsbFirst, kIdMode0}, 4, 0x00},
        {{kIdMode1, kIdKeyB, kIdMsbFirst, kIdMode0, kIdMode1}, 12, 0x01},
        {{kIdAba, kIdAba6HTo10D, kIdWiegand, kIdWiegand42, kIdAba}, 1, 0x16},
        {{kIdAba, kIdAba6HTo10D, kIdWiegand, kIdWiegand42}, 1, 0x05},
        {{kIdPasswordEnable}, 20, 0x01},
        {{kIdPasswordEnable, kIdPasswordDisable}, 20, 0x00},
        {{kIdMode0}, 0, 0x01},
    };
    for (const Row& row : rows) {
        m_core.EnterConnectedState();
        for (const int nId : row.clicks)
            Click(nId);
        EXPECT_EQ(Byte(row.nByte), row.nValue) << "byte " << row.nByte << " after " << row.clicks.size() << " clicks";
    }
}

TEST_F(DialogCore, DefaultTimingPutsTheTextsBackAndTheClickedControlKeepsTheFocus)
{
    m_core.EnterConnectedState();
    Click(kIdUserDefined);
    m_surface.SetText(kIdImpulseWidth, "99");
    m_surface.Focus(kIdImpulseWidth);
    // A click that leaves the focus where it was (assistive technology does):
    // the field the rule disables hands it to the clicked button, not to the
    // next Tab stop.
    Click(kIdDefaultTiming);
    EXPECT_EQ(m_surface.FocusedId(), kIdDefaultTiming);
    EXPECT_EQ(m_surface.Text(kIdImpulseWidth), "08");
    EXPECT_EQ(Byte(13), 0x28);
    EXPECT_FALSE(m_surface.IsEnabled(kIdImpulseWidth));

    // "User-defined", "ABA", "WIEGAND": the fields come back with their texts.
    Click(kIdUserDefined);
    m_surface.SetText(kIdImpulseInterval, "7");
    Click(kIdAba);
    EXPECT_FALSE(m_surface.IsEnabled(kIdImpulseInterval));
    Click(kIdWiegand);
    EXPECT_TRUE(m_surface.IsEnabled(kIdImpulseInterval));
    EXPECT_EQ(m_surface.Text(kIdImpulseInterval), "7");
    EXPECT_TRUE(m_surface.IsChecked(kIdUserDefined));
}

TEST_F(DialogCore, LockingIsConfirmedAndFollowsTheMarkAsItStandsAfterTheBox)
{
    struct Row {
        bool bAnswer;
        bool bReconnectInsideBox;
        bool bChecked;
    };
    for (const Row& row : {Row{true, false, true}, Row{false, false, false}, Row{true, true, false}}) {
        m_core.EnterConnectedState();
        m_shell.m_messages.clear();
        m_shell.m_bConfirmAnswer = row.bAnswer;
        m_shell.m_onConfirm = [this, &row]() {
            if (row.bReconnectInsideBox)
                m_core.EnterConnectedState();
        };
        Click(kIdLocking);
        EXPECT_EQ(m_shell.m_messages, (std::vector<std::string>{"Warning? " + std::string(kLockingConfirmText)}));
        EXPECT_EQ(m_surface.IsChecked(kIdLocking), row.bChecked);
        EXPECT_EQ(m_core.ConfigLockingFlag(), row.bChecked ? 1 : 0);
        EXPECT_EQ(m_core.Settings().m_bConfigLocking, row.bChecked);
    }
    // Clearing the mark asks nothing.
    m_shell.m_onConfirm = nullptr;
    m_shell.m_bConfirmAnswer = true;
    Click(kIdLocking);
    m_shell.m_messages.clear();
    Click(kIdLocking);
    EXPECT_TRUE(m_shell.m_messages.empty());
    EXPECT_EQ(m_core.ConfigLockingFlag(), 0);
}

TEST_F(DialogCore, RoutesCommandsAndTheHelpItem)
{
    EXPECT_TRUE(m_core.OnCommand(kIdExit));
    EXPECT_TRUE(m_core.OnCommand(kIdCancel));
    EXPECT_EQ(m_shell.m_ends, (std::vector<bool>{true, false}));
    EXPECT_TRUE(m_core.OnCommand(kIdHelp));
    EXPECT_TRUE(m_core.OnSysCommand(kSysCommandAbout | 0x3U));
    EXPECT_FALSE(m_core.OnSysCommand(kSysCommandMinimise));
    EXPECT_EQ(m_shell.m_nHelpShown, 2);
    EXPECT_FALSE(m_core.OnCommand(4242));

    // A click on a disabled option runs no rule.
    m_core.OnCommand(kIdMode1);
    EXPECT_EQ(Byte(0), 0x00);
    // "Make Provin" reaches the link, which finds no open port.
    m_core.OnCommand(kIdMake);
    EXPECT_EQ(m_shell.m_messages.back(), "Warning: " + std::string(kMsgPortNotOpen));
    EXPECT_TRUE(m_shell.m_timers.empty());
}

TEST(FormTable, GroupsTabOrderListsAndGuideAreWhatTheWindowsBuildFrom)
{
    for (const int nId : MainTabOrder()) {
        ASSERT_NE(FindFormItem(nId), nullptr) << nId;
        EXPECT_NE(FindFormItem(nId)->m_eKind, ControlKind::Radio) << nId;
    }
    EXPECT_EQ(GroupMembers(kGroupAbaFormat),
              (std::vector<int>{kIdAba8HTo10D, kIdAba6HTo8D, kIdAba6HTo10D, kIdAba4H2HTo10D, kIdAba4H2HTo8D}));
    EXPECT_EQ(GroupMembers(kGroupImpulseTiming), (std::vector<int>{kIdDefaultTiming, kIdUserDefined}));
    EXPECT_EQ(GroupMembers(kGroupByteOrder), (std::vector<int>{kIdMsbFirst, kIdLsbFirst}));
    EXPECT_EQ(ListItems(kIdPortList).back(), "COM10");
    EXPECT_EQ(ListItems(kIdStartAddress).size(), 14U);
    EXPECT_EQ(LabelOf(kIdSector), "Sector No.");
    EXPECT_EQ(AccessibleNameOf(kIdPasswordEnable), "Password protection: Enable");
    const std::string guide = GuideText();
    EXPECT_EQ(guide.rfind("User's Guide:\r\n\r\n1.", 0), 0U);
    EXPECT_EQ(guide.substr(guide.size() - 11), "selected.\r\n");
    EXPECT_EQ(guide.find("\n\n"), std::string::npos);  // every break is CR LF
    EXPECT_EQ(MinimisedIconPosition(36, 36, 32, 32).m_nX, 2);
}

// The names and notes the Windows dialog gives each control through Dynamic
// Annotation: every control that takes input is named, no two alike (the two
// "Enable" choices among them), with the core's name where it has one.
TEST(FormTable, EveryControlThatTakesInputHasANameOfItsOwnAndItsNote)
{
    for (const std::span<const FormItem> form : {MainFormItems(), HelpFormItems()}) {
        const std::vector<AccessibleAnnotation> annotations = AccessibleAnnotations(form);
        std::set<std::string> names;
        size_t nInputs = 0;
        for (const FormItem& item : form)
            nInputs += item.m_eKind != ControlKind::Label && item.m_eKind != ControlKind::Frame ? 1 : 0;
        EXPECT_EQ(annotations.size(), nInputs);
        for (const AccessibleAnnotation& a : annotations) {
            const auto pItem =
                std::find_if(form.begin(), form.end(), [&a](const FormItem& item) { return item.m_nId == a.m_nId; });
            ASSERT_NE(pItem, form.end()) << a.m_nId;
            EXPECT_NE(pItem->m_eKind, ControlKind::Label) << a.m_nId;
            EXPECT_FALSE(a.m_strName.empty()) << a.m_nId;
            EXPECT_FALSE(a.m_strName.ends_with(":") || a.m_strName.ends_with("：")) << a.m_strName;
            EXPECT_TRUE(names.insert(a.m_strName).second) << "named twice: " << a.m_strName;
            const std::string core = AccessibleNameOf(a.m_nId);
            EXPECT_EQ(a.m_strName, core.empty() ? pItem->m_pszText : core) << a.m_nId;
            EXPECT_EQ(a.m_strDescription, AccessibleDescriptionOf(a.m_nId)) << a.m_nId;
        }
    }
    const std::vector<AccessibleAnnotation> main = AccessibleAnnotations(MainFormItems());
    const auto of = [&main](int nId) {
        return *std::find_if(main.begin(), main.end(), [nId](const auto& a) { return a.m_nId == nId; });
    };
    EXPECT_EQ(of(kIdLocking).m_strName, "Configuration Locking: Enable");
    EXPECT_EQ(of(kIdKey).m_strName, "KEY");
    EXPECT_EQ(of(kIdKey).m_strDescription, "(6bytes hexadecimal digits,LSB)");
    EXPECT_EQ(of(kIdImpulseInterval).m_strDescription, "*50us (1-255)");
    EXPECT_EQ(of(kIdPortList).m_strName, "Port");
    EXPECT_EQ(AccessibleAnnotations(HelpFormItems()).front().m_strName, kGuideAccessibleName);
}

}  // namespace
}  // namespace varnis::coretest
