// The window at the keyboard and through a screen reader: where the focus
// goes as the state changes, the Tab chain, and what each control reports.
#include "ui/qt/AccessibleText.h"
#include "ui/qt/FormAccessible.h"
#include "ui/UiTestSupport.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <future>
#include <map>

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

TEST_F(Keyboard, ChoicesMadeThroughAssistiveTechnologyRunTheirRules)
{
    m_probe.EnterConnectedState();
    ToggleAccessibly(m_probe.Control(kIdMode1));
    EXPECT_TRUE(Button(m_dlg, kIdMode1)->isChecked());
    EXPECT_EQ(m_probe.Build().m_settingsBlock.at(0), 0xFE);
    EXPECT_TRUE(m_probe.Control(kIdKeyB)->isEnabled());
    ToggleAccessibly(m_probe.Control(kIdKeyB));
    EXPECT_EQ(m_probe.Build().m_settingsBlock.at(4), 0x01);
    EXPECT_EQ(m_probe.Settings().m_eKeyType, KeyType::KeyB);

    m_boxes.m_confirmAnswers = {false};
    ToggleAccessibly(m_probe.Control(kIdLocking));
    ASSERT_EQ(m_boxes.m_records.size(), 1U);
    EXPECT_EQ(m_boxes.m_records.front().m_eKind, BoxRecord::Kind::Confirm);
    EXPECT_TRUE(m_boxes.m_records.front().m_bOwned);
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

TEST_F(Keyboard, ConnectingPutsTheFocusOnClosePortAndClosingOnOpenPort)
{
    Press(Qt::Key_Tab);
    Press(Qt::Key_Tab);
    ASSERT_EQ(Focus(), m_probe.Control(kIdOpenPort));
    m_probe.EnterConnectedState();  // as the device's answer to a probe does
    EXPECT_EQ(Focus(), m_probe.Control(kIdClosePort));
    // The next key goes to "ClosePort", not into the password.
    QTest::keyClicks(Focus(), "12");
    EXPECT_EQ(EditOf(m_dlg, kIdPassword)->text(), "47150263");
    EXPECT_FALSE(EditOf(m_dlg, kIdPassword)->hasSelectedText());

    Press(Qt::Key_Space);  // "ClosePort"
    ASSERT_FALSE(m_probe.IsPortOpen());
    EXPECT_EQ(Focus(), m_probe.Control(kIdOpenPort));

    // A person who has moved to "Help" meanwhile keeps the focus there.
    Press(Qt::Key_Tab, Qt::ShiftModifier);
    ASSERT_EQ(Focus(), m_probe.Control(kIdHelp));
    m_probe.EnterConnectedState();
    EXPECT_EQ(Focus(), m_probe.Control(kIdHelp));
    // Closing from an edit field (a click on "ClosePort" by assistive
    // technology leaves the focus where it was) ends on "OpenPort".
    EditOf(m_dlg, kIdPassword)->setFocus(Qt::TabFocusReason);
    m_probe.Command(kIdClosePort);
    EXPECT_EQ(Focus(), m_probe.Control(kIdOpenPort));
}

TEST_F(Keyboard, AControlDisabledUnderTheFocusHandsItToTheChosenControlNotToAnEdit)
{
    m_probe.EnterConnectedState();
    ClickOn(m_dlg, kIdMode1);
    EditOf(m_dlg, kIdKey)->setFocus(Qt::TabFocusReason);
    // Assistive technology chooses UID output: the KEY field is disabled.
    QAccessible::queryAccessibleInterface(m_probe.Control(kIdMode0))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(Button(m_dlg, kIdMode0)->isChecked());
    EXPECT_EQ(m_probe.Settings().m_eOutputMode, OutputMode::Uid);
    ASSERT_FALSE(m_probe.Control(kIdKey)->isEnabled());
    EXPECT_EQ(Focus(), m_probe.Control(kIdMode0));
}

TEST_F(Keyboard, FocusComesBackToTheControlThatOpenedABox)
{
    QtMessageBoxes realBoxes;
    m_dlg.SetMessageBoxes(&realBoxes);
    m_probe.EnterConnectedState();
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
    m_probe.EnterConnectedState();
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
    m_probe.EnterConnectedState();
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

TEST(AccessibleText, EveryOffsetTheEndIncludedHasItsPiece)
{
    using B = QAccessible::TextBoundaryType;
    struct Case {
        const char* m_pszText;
        int m_nOffset;
        B m_eBoundary;
        PieceWhere m_eWhere;
        const char* m_pszPiece;
        int m_nStart;
        int m_nEnd;
    };
    const Case cases[] = {
        {"A5 C3.", 1, B::WordBoundary, PieceWhere::At, "A5", 0, 2},
        {"A5 C3.", 2, B::WordBoundary, PieceWhere::At, " ", 2, 3},
        {"A5 C3.", 6, B::WordBoundary, PieceWhere::At, ".", 5, 6},  // the end: the last piece
        {"A5 C3", 5, B::WordBoundary, PieceWhere::At, "C3", 3, 5},
        {"A5 C3", 5, B::WordBoundary, PieceWhere::Before, " ", 2, 3},
        {"A5 C3", 5, B::WordBoundary, PieceWhere::After, "", 5, 5},
        {"A5 C3", 0, B::WordBoundary, PieceWhere::Before, "", 0, 0},
        {"A5 C3", 5, B::CharBoundary, PieceWhere::At, "", 5, 5},
        {"A5 C3", 5, B::CharBoundary, PieceWhere::Before, "3", 4, 5},
        {"One. Two.", 9, B::SentenceBoundary, PieceWhere::At, "Two.", 5, 9},
        {"One. Two.", 9, B::SentenceBoundary, PieceWhere::Before, "One. ", 0, 5},
        {"ab\ncd", 5, B::LineBoundary, PieceWhere::At, "cd", 3, 5},
        {"ab\ncd", 1, B::LineBoundary, PieceWhere::After, "cd", 3, 5},
        {"ab\n", 3, B::LineBoundary, PieceWhere::At, "", 3, 3},  // the empty line after a break
        {"ab\n", 3, B::LineBoundary, PieceWhere::Before, "ab\n", 0, 3},
        {"ab", 2, B::NoBoundary, PieceWhere::At, "ab", 0, 2},
        {"", 0, B::WordBoundary, PieceWhere::At, "", 0, 0},
        {"", 0, B::LineBoundary, PieceWhere::After, "", 0, 0},
        {"ab", 3, B::WordBoundary, PieceWhere::At, "", -1, -1},  // past the end
        {"ab", -1, B::CharBoundary, PieceWhere::Before, "", -1, -1},
    };
    for (const Case& c : cases) {
        const TextPiece piece = FindTextPiece(QString::fromUtf8(c.m_pszText), c.m_nOffset, c.m_eBoundary, c.m_eWhere);
        EXPECT_EQ(piece.m_strText, QString::fromUtf8(c.m_pszPiece)) << c.m_pszText << " @" << c.m_nOffset;
        EXPECT_EQ(piece.m_nStart, c.m_nStart) << c.m_pszText << " @" << c.m_nOffset;
        EXPECT_EQ(piece.m_nEnd, c.m_nEnd) << c.m_pszText << " @" << c.m_nOffset;
    }
}

std::chrono::milliseconds ProcessCpuTime()
{
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return std::chrono::milliseconds(time.tv_sec * 1000 + time.tv_nsec / 1000000);
}

TEST_F(Keyboard, EveryEditFieldAnswersEveryTextQueryWithinASecondAndTheWindowStaysIdle)
{
    m_probe.EnterConnectedState();
    ClickOn(m_dlg, kIdMode1);
    const std::vector<std::pair<int, QString>> fields = {
        {kIdImpulseWidth, "4 0"}, {kIdImpulseInterval, "40"}, {kIdKey, "A5 C3. 0F7E"}, {kIdPassword, "47 15.02"}};
    const QAccessible::TextBoundaryType boundaries[] = {QAccessible::CharBoundary, QAccessible::WordBoundary,
                                                        QAccessible::SentenceBoundary, QAccessible::LineBoundary};
    for (const auto& [nId, text] : fields) {
        EditOf(m_dlg, nId)->setText(text);
        QAccessibleInterface* pField = QAccessible::queryAccessibleInterface(m_probe.Control(nId));
        QAccessibleTextInterface* pText = pField->textInterface();
        ASSERT_NE(pText, nullptr) << nId;
        ASSERT_EQ(pText->characterCount(), text.size()) << nId;
        // The queries run beside this thread, which only waits: a query that
        // loops forever fails the test after a second instead of hanging it.
        auto answers = std::async(std::launch::async, [pText, &boundaries, nLength = int(text.size())]() {
            int nWrong = 0;
            for (const auto eBoundary : boundaries) {
                for (int nOffset = 0; nOffset <= nLength + 1; ++nOffset) {
                    int nStart = 0;
                    int nEnd = 0;
                    for (const auto query :
                         {&QAccessibleTextInterface::textAtOffset, &QAccessibleTextInterface::textAfterOffset,
                          &QAccessibleTextInterface::textBeforeOffset}) {
                        const QString piece = (pText->*query)(nOffset, eBoundary, &nStart, &nEnd);
                        const bool bPast = nOffset > nLength;
                        if (bPast ? nStart != -1 || !piece.isEmpty()
                                  : nStart < 0 || nEnd > nLength || piece != pText->text(nStart, nEnd))
                            ++nWrong;
                    }
                }
            }
            return nWrong;
        });
        if (answers.wait_for(std::chrono::seconds(1)) != std::future_status::ready) {
            std::fprintf(stderr, "field %d: a text query gave no answer within 1 s\n", nId);
            std::_Exit(EXIT_FAILURE);
        }
        EXPECT_EQ(answers.get(), 0) << nId;
        int nStart = 0;
        int nEnd = 0;
        EXPECT_EQ(pText->textAtOffset(int(text.size()), QAccessible::WordBoundary, &nStart, &nEnd),
                  text.split(u' ').back())
            << nId;
    }
    // Idle afterwards: the event loop answers at once and the process uses
    // next to no processor time while it waits.
    bool bAnswered = false;
    QTimer::singleShot(0, &m_dlg, [&bAnswered]() { bAnswered = true; });
    EXPECT_TRUE(WaitFor([&bAnswered]() { return bAnswered; }, std::chrono::seconds(1)));
    const auto cpuBefore = ProcessCpuTime();
    QTest::qWait(300);
    EXPECT_LT(ProcessCpuTime() - cpuBefore, std::chrono::milliseconds(150));
}

TEST_F(Keyboard, EachRadioButtonSitsInItsNamedGroupAtItsPlace)
{
    struct Place {
        int m_nId;
        const char* m_pszGroup;
        int m_nPosition;
        int m_nCount;
    };
    const Place places[] = {{kIdMode1, "Output Data Definition", 2, 2},
                            {kIdWiegand, "Interface Selection", 1, 2},
                            {kIdWiegand42, "WIEGAND Parameters", 3, 3},
                            {kIdUserDefined, "WIEGAND Parameters", 2, 2},
                            {kIdAba6HTo10D, "ABA Parameters", 2, 5},
                            {kIdAba4H2HTo10D, "ABA Parameters", 5, 5},
                            {kIdLsbFirst, "Data Arrangment Order", 1, 2},
                            {kIdKeyB, "Key Checking", 2, 2},
                            {kIdPasswordEnable, "Configuration Password", 1, 2}};
    for (const Place& place : places) {
        QAccessibleInterface* pRadio = QAccessible::queryAccessibleInterface(m_probe.Control(place.m_nId));
        QAccessibleInterface* pGroup = pRadio->parent();
        ASSERT_NE(pGroup, nullptr) << place.m_nId;
        EXPECT_EQ(pGroup->role(), QAccessible::Grouping) << place.m_nId;
        EXPECT_EQ(pGroup->text(QAccessible::Name), QString::fromUtf8(place.m_pszGroup)) << place.m_nId;
        EXPECT_EQ(pGroup->indexOfChild(pRadio) + 1, place.m_nPosition) << place.m_nId;
        EXPECT_EQ(pGroup->childCount(), place.m_nCount) << place.m_nId;
        // A group holds its own buttons and nothing else.
        for (int n = 0; n < pGroup->childCount(); ++n) {
            auto* pMember = qobject_cast<QRadioButton*>(pGroup->child(n)->object());
            ASSERT_NE(pMember, nullptr) << place.m_nId;
            EXPECT_EQ(pMember->group(), Button(m_dlg, place.m_nId)->group()) << place.m_nId;
        }
    }
    // The byte order's caption labels its group.
    QAccessibleInterface* pByteOrder = QAccessible::queryAccessibleInterface(m_probe.Control(kIdMsbFirst))->parent();
    const auto labels = pByteOrder->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front().first->text(QAccessible::Name), QString::fromUtf8("Data Arrangment Order："));
}

// The accessibility events raised while a test runs.
std::vector<std::pair<QAccessible::Event, QString>>& RaisedEvents()
{
    static std::vector<std::pair<QAccessible::Event, QString>> events;
    return events;
}

void RecordEvent(const QAccessibleEvent& event)
{
    QAccessibleInterface* pInterface = event.accessibleInterface();
    RaisedEvents().emplace_back(event.type(), pInterface != nullptr ? pInterface->text(QAccessible::Name) : "");
}

TEST_F(Keyboard, AClosedListsNewValueIsItsTextAndMovesTheScreenReaderToTheChosenItem)
{
    m_probe.EnterConnectedState();
    ClickOn(m_dlg, kIdMode1);
    SetFormEventObserver(&RecordEvent);
    for (const int nId : {kIdSector, kIdBlock, kIdStartAddress, kIdEndAddress}) {
        QComboBox* pList = ListOf(m_dlg, nId);
        pList->setFocus(Qt::TabFocusReason);
        const int nBefore = pList->currentIndex();
        RaisedEvents().clear();
        Press(Qt::Key_Down);
        ASSERT_EQ(pList->currentIndex(), nBefore + 1) << nId;
        ASSERT_FALSE(pList->view()->isVisible()) << nId;
        const QString value = pList->currentText();
        const auto focusOnItem = std::make_pair(QAccessible::Focus, value);
        EXPECT_NE(std::find(RaisedEvents().begin(), RaisedEvents().end(), focusOnItem), RaisedEvents().end()) << nId;
        // Where screen readers look for a list's value: its text.
        QAccessibleTextInterface* pText = QAccessible::queryAccessibleInterface(pList)->textInterface();
        ASSERT_NE(pText, nullptr) << nId;
        EXPECT_EQ(pText->text(0, pText->characterCount()), value) << nId;
    }
    // A value the program sets to a list without the focus moves nothing.
    RaisedEvents().clear();
    m_probe.Control(kIdExit)->setFocus(Qt::TabFocusReason);
    ListOf(m_dlg, kIdSector)->setCurrentIndex(5);
    EXPECT_EQ(std::count_if(RaisedEvents().begin(), RaisedEvents().end(),
                            [](const auto& event) { return event.second == "5"; }),
              0);
    SetFormEventObserver(nullptr);
}

TEST_F(Keyboard, EveryNoteDescribesItsControlSoNoLabelStandsAlone)
{
    for (const int nId : {kIdStartAddress, kIdEndAddress}) {
        EXPECT_EQ(QAccessible::queryAccessibleInterface(m_probe.Control(nId))->text(QAccessible::Description),
                  "(Start address <=End address) (Length <=5 bytes)")
            << nId;
    }
    std::map<QString, std::vector<int>> describedBy;
    for (QLabel* pLabel : m_dlg.findChildren<QLabel*>()) {
        const auto relations = QAccessible::queryAccessibleInterface(pLabel)->relations(QAccessible::Labelled);
        // A label with no relation is read out whenever the window is.
        EXPECT_FALSE(relations.empty()) << pLabel->text().toStdString();
        if (qobject_cast<FormNote*>(pLabel) == nullptr)
            continue;
        for (const auto& relation : relations) {
            EXPECT_TRUE(relation.first->text(QAccessible::Description).contains(pLabel->text()));
            describedBy[pLabel->text()].push_back(relation.first->object()->objectName().mid(7).toInt());
        }
    }
    const std::map<QString, std::vector<int>> expected = {
        {"*50us", {kIdImpulseInterval, kIdImpulseWidth}},
        {"(1-255)", {kIdImpulseInterval, kIdImpulseWidth}},
        {"(Start address <=End address)", {kIdStartAddress, kIdEndAddress}},
        {"(Length <=5 bytes)", {kIdStartAddress, kIdEndAddress}},
        {"(6bytes hexadecimal digits,LSB)", {kIdKey}},
        {"(default as 47150263)", {kIdPassword}}};
    for (auto& [text, ids] : describedBy)
        std::sort(ids.begin(), ids.end());
    EXPECT_EQ(describedBy, expected);
}

}  // namespace
}  // namespace varnis::uitest
