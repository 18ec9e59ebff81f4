// The window at the keyboard and through a screen reader: where the focus
// goes as the state changes, the Tab chain, and what each control reports.
#include "ui/UiTestSupport.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace varnis::uitest {
namespace {

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dlg.SetMessageBoxes(&m_boxes);
        m_dlg.show();
        m_dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
    }
    QWidget* Focus() const { return QApplication::focusWidget(); }
    // What a window manager does when a box over the window closes.
    void ReactivateWindow()
    {
        m_dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
    }
    void Press(Qt::Key eKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(Focus(), eKey, modifiers);
    }
    // The ids the Tab key (or Shift+Tab) visits from "Exit" until it comes back.
    std::vector<int> TabChain(Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        m_probe.Control(kIdExit)->setFocus(Qt::TabFocusReason);
        std::vector<int> ids = {kIdExit};
        for (int nStep = 0; nStep < 40; ++nStep) {
            Press(Qt::Key_Tab, modifiers);
            if (Focus() == m_probe.Control(kIdExit))
                break;
            ids.push_back(Focus() != nullptr ? Focus()->objectName().mid(7).toInt() : -1);
        }
        return ids;
    }

    FakeMessageBoxes m_boxes;
    VarnisDlg m_dlg;
    VarnisDlgProbe m_probe{m_dlg};
    bool m_bBoxSeen = false;
};

TEST_F(Keyboard, ConnectingPutsTheFocusOnClosePortAndClosingOnOpenPort)
{
    Press(Qt::Key_Tab);
    Press(Qt::Key_Tab);
    ASSERT_EQ(Focus(), m_probe.Control(kIdOpenPort));
    m_dlg.EnterConnectedState();  // as the device's answer to a probe does
    EXPECT_EQ(Focus(), m_probe.Control(kIdClosePort));
    // The next key goes to "ClosePort", not into the password.
    QTest::keyClicks(Focus(), "12");
    EXPECT_EQ(EditOf(m_dlg, kIdPassword)->text(), "47150263");
    EXPECT_FALSE(EditOf(m_dlg, kIdPassword)->hasSelectedText());

    Press(Qt::Key_Space);  // "ClosePort"
    ASSERT_FALSE(m_dlg.IsPortOpen());
    EXPECT_EQ(Focus(), m_probe.Control(kIdOpenPort));

    // A person who has moved to "Help" meanwhile keeps the focus there.
    Press(Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(Focus(), m_probe.Control(kIdHelp));
    m_dlg.EnterConnectedState();
    EXPECT_EQ(Focus(), m_probe.Control(kIdHelp));
    // Closing from an edit field (a click on "ClosePort" by assistive
    // technology leaves the focus where it was) ends on "OpenPort".
    EditOf(m_dlg, kIdPassword)->setFocus(Qt::TabFocusReason);
    m_dlg.OnClosePort();
    EXPECT_EQ(Focus(), m_probe.Control(kIdOpenPort));
}

TEST_F(Keyboard, AControlDisabledUnderTheFocusHandsItToTheChosenControlNotToAnEdit)
{
    m_dlg.EnterConnectedState();
    ClickOn(m_dlg, kIdMode1);
    EditOf(m_dlg, kIdKey)->setFocus(Qt::TabFocusReason);
    // Assistive technology chooses UID output: the KEY field is disabled.
    QAccessible::queryAccessibleInterface(m_probe.Control(kIdMode0))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(Button(m_dlg, kIdMode0)->isChecked());
    EXPECT_EQ(m_dlg.Settings().m_eOutputMode, OutputMode::Uid);
    ASSERT_FALSE(m_probe.Control(kIdKey)->isEnabled());
    EXPECT_EQ(Focus(), m_probe.Control(kIdMode0));
}

TEST_F(Keyboard, FocusComesBackToTheControlThatOpenedABox)
{
    QtMessageBoxes realBoxes;
    m_dlg.SetMessageBoxes(&realBoxes);
    m_dlg.EnterConnectedState();
    // Answers the next box once it is up.
    auto answerNextBox = [this](QMessageBox::StandardButton eAnswer) {
        m_bBoxSeen = false;
        QTimer::singleShot(0, &m_dlg, [this, eAnswer]() {
            if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                m_bBoxSeen = true;
                pBox->button(eAnswer)->click();
            }
        });
    };
    EditOf(m_dlg, kIdPassword)->setText("123");  // too short: "Make Provin" refuses it with a box
    m_probe.Control(kIdMake)->setFocus(Qt::TabFocusReason);
    answerNextBox(QMessageBox::Ok);
    Press(Qt::Key_Space);
    ASSERT_TRUE(m_bBoxSeen);
    ReactivateWindow();
    EXPECT_EQ(Focus(), m_probe.Control(kIdMake));

    m_probe.Control(kIdLocking)->setFocus(Qt::TabFocusReason);
    answerNextBox(QMessageBox::Cancel);
    Press(Qt::Key_Space);
    ASSERT_TRUE(m_bBoxSeen);
    ReactivateWindow();
    EXPECT_FALSE(Button(m_dlg, kIdLocking)->isChecked());
    EXPECT_EQ(Focus(), m_probe.Control(kIdLocking));
}

TEST_F(Keyboard, TabVisitsOnlyTheFormsStopsWhateverWasClicked)
{
    m_dlg.EnterConnectedState();
    m_boxes.m_confirmAnswers = {true};
    // A radio of every group and the locking check box, each once clicked.
    for (const int nId : {kIdMode1, kIdAba, kIdAba6HTo10D, kIdWiegand, kIdWiegand42, kIdUserDefined, kIdKeyB,
                          kIdMsbFirst, kIdPasswordEnable, kIdLocking}) {
        ASSERT_TRUE(m_probe.Control(nId)->isEnabled()) << nId;
        ClickOn(m_dlg, nId);
    }
    ASSERT_EQ(m_probe.ConfigLockingFlag(), 1);
    const std::vector<int> expected = {kIdExit,       kIdHelp,     kIdImpulseInterval, kIdImpulseWidth, kIdMake,
                                       kIdSector,     kIdBlock,    kIdStartAddress,    kIdKey,          kIdClosePort,
                                       kIdEndAddress, kIdPassword, kIdLocking};
    EXPECT_EQ(TabChain(), expected);
    std::vector<int> backwards = {kIdExit};
    backwards.insert(backwards.end(), expected.rbegin(), expected.rend() - 1);
    EXPECT_EQ(TabChain(Qt::ShiftModifier), backwards);

    // From a radio that has just been clicked, Tab goes on to a Tab stop.
    ClickOn(m_dlg, kIdKeyA);
    ASSERT_EQ(Focus(), m_probe.Control(kIdKeyA));
    Press(Qt::Key_Tab);
    ASSERT_NE(Focus(), nullptr);
    EXPECT_NE(std::find(expected.begin(), expected.end(), Focus()->objectName().mid(7).toInt()), expected.end());
}

TEST_F(Keyboard, ScreenReadersHearEachControlsRoleNameAndState)
{
    m_dlg.EnterConnectedState();
    auto roleOf = [this](int nId) { return QAccessible::queryAccessibleInterface(m_probe.Control(nId))->role(); };
    auto nameOf = [this](int nId) {
        return QAccessible::queryAccessibleInterface(m_probe.Control(nId))->text(QAccessible::Name);
    };
    for (const int nId : {kIdExit, kIdHelp, kIdMake, kIdOpenPort, kIdClosePort})
        EXPECT_EQ(roleOf(nId), QAccessible::Button) << nId;
    for (const int nId : {kIdImpulseInterval, kIdImpulseWidth, kIdKey, kIdPassword})
        EXPECT_EQ(roleOf(nId), QAccessible::EditableText) << nId;
    for (const int nId : {kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress, kIdPortList})
        EXPECT_EQ(roleOf(nId), QAccessible::ComboBox) << nId;
    EXPECT_EQ(roleOf(kIdLocking), QAccessible::CheckBox);
    EXPECT_EQ(nameOf(kIdLocking), "Configuration Locking: Enable");

    int nRadios = 0;
    for (const int nId : AllControlIds()) {
        if (qobject_cast<QRadioButton*>(m_probe.Control(nId)) == nullptr)
            continue;
        ++nRadios;
        QAccessibleInterface* pRadio = QAccessible::queryAccessibleInterface(m_probe.Control(nId));
        EXPECT_EQ(pRadio->role(), QAccessible::RadioButton) << nId;
        EXPECT_TRUE(pRadio->state().checkable) << nId;
        EXPECT_EQ(pRadio->state().checked, Button(m_dlg, nId)->isChecked()) << nId;
        EXPECT_EQ(pRadio->state().disabled, !m_probe.Control(nId)->isEnabled()) << nId;
        EXPECT_FALSE(nameOf(nId).isEmpty()) << nId;
    }
    EXPECT_EQ(nRadios, 20);
    EXPECT_EQ(nameOf(kIdMode0), QString::fromUtf8("Mode0：Output UID number"));
    EXPECT_EQ(nameOf(kIdPasswordDisable), "Password protection: Disable");
    EXPECT_EQ(nameOf(kIdPassword), "Password");
    // A list is heard by its value, and labelled by its label.
    QAccessibleInterface* pSector = QAccessible::queryAccessibleInterface(m_probe.Control(kIdSector));
    EXPECT_EQ(pSector->text(QAccessible::Value), "0");
    const auto labels = pSector->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front().first->text(QAccessible::Name), QString::fromUtf8("Sector No.："));

    // A choice made through the screen reader is heard as checked, the
    // group's other button as not, and the choice's rule has run.
    QAccessible::queryAccessibleInterface(m_probe.Control(kIdAba))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(m_probe.Control(kIdAba))->state().checked);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(m_probe.Control(kIdWiegand))->state().checked);
    EXPECT_TRUE(m_probe.Control(kIdAba6HTo8D)->isEnabled());
}

}  // namespace
}  // namespace varnis::uitest
