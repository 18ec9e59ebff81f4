// The form, its start state, its keyboard behaviour and the connection states.
#include "config/ChoiceRules.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/FormList.h"
#include "ui/UiTestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace varnis::uitest {
namespace {

using Ids = std::set<int>;

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dlg.SetMessageBoxes(&m_boxes);
        m_dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
    }

    FakeMessageBoxes m_boxes;
    VarnisDlg m_dlg;
    VarnisDlgProbe m_probe{m_dlg};
};

const Ids kConnectedEnabled = {
    kIdExit,        kIdHelp,     kIdMake,           kIdClosePort,       kIdMode0,     kIdMode1,
    kIdWiegand,     kIdAba,      kIdWiegand26,      kIdWiegand34,       kIdWiegand42, kIdDefaultTiming,
    kIdUserDefined, kIdPassword, kIdPasswordEnable, kIdPasswordDisable, kIdLocking};
const Ids kDefaultChecks = {kIdMode0, kIdWiegand,  kIdWiegand26,     kIdAba8HTo10D,
                            kIdKeyA,  kIdLsbFirst, kIdDefaultTiming, kIdPasswordDisable};

void ExpectDefaultValues(const VarnisDlg& dlg)
{
    EXPECT_EQ(CheckedIds(dlg), kDefaultChecks);
    EXPECT_EQ(EditOf(dlg, kIdImpulseInterval)->text(), "40");
    EXPECT_EQ(EditOf(dlg, kIdImpulseWidth)->text(), "08");
    EXPECT_EQ(EditOf(dlg, kIdKey)->text(), "A5C30F7E9B12");
    EXPECT_EQ(EditOf(dlg, kIdPassword)->text(), "47150263");
    EXPECT_EQ(ListOf(dlg, kIdSector)->currentIndex(), 0);
    EXPECT_EQ(ListOf(dlg, kIdBlock)->currentIndex(), 0);
    EXPECT_EQ(ListOf(dlg, kIdStartAddress)->currentIndex(), 0);
    EXPECT_EQ(ListOf(dlg, kIdEndAddress)->currentIndex(), 4);
    EXPECT_EQ(ListOf(dlg, kIdPortList)->currentText(), "AUTO");
}

TEST_F(MainWindow, StartsWithOnlyExitHelpAndOpenPortUsableAndAnEmptyBlock)
{
    EXPECT_EQ(EnabledIds(m_dlg), (Ids{kIdExit, kIdHelp, kIdOpenPort}));
    ExpectDefaultValues(m_dlg);
    EXPECT_EQ(m_probe.Build().m_settingsBlock, SettingsBlock{});
    EXPECT_FALSE(m_probe.IsPortOpen());
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 0);
    EXPECT_EQ(m_dlg.windowTitle(), "Provin Generator v3.3");
    EXPECT_EQ(QApplication::focusWidget(), m_probe.Control(kIdExit));
    EXPECT_TRUE(static_cast<QPushButton*>(m_probe.Control(kIdExit))->isDefault());
    EXPECT_TRUE(m_boxes.m_records.empty());
}

TEST_F(MainWindow, ListsHoldTheirValuesInOrderAndEditsTheirLengthLimits)
{
    EXPECT_NE(qobject_cast<QCheckBox*>(m_probe.Control(kIdLocking)), nullptr);
    EXPECT_EQ(ListOf(m_dlg, kIdPortList)->count(), 11);
    EXPECT_EQ(ListOf(m_dlg, kIdPortList)->itemText(10), "COM10");
    const std::vector<std::pair<int, int>> counts = {
        {kIdSector, 16}, {kIdBlock, 4}, {kIdStartAddress, 14}, {kIdEndAddress, 16}};
    for (const auto& [nId, nCount] : counts) {
        ASSERT_EQ(ListOf(m_dlg, nId)->count(), nCount) << nId;
        for (int n = 0; n < nCount; ++n)
            EXPECT_EQ(ListOf(m_dlg, nId)->itemText(n), QString::number(n));
    }
    const std::vector<std::pair<int, int>> limits = {
        {kIdKey, 12}, {kIdPassword, 8}, {kIdImpulseWidth, 3}, {kIdImpulseInterval, 3}};
    for (const auto& [nId, nLimit] : limits)
        EXPECT_EQ(EditOf(m_dlg, nId)->maxLength(), nLimit) << nId;
}

TEST_F(MainWindow, KeepsProportionsOfItsDialogUnitsAndClipsNoText)
{
    const DialogUnits units(m_dlg.font());
    EXPECT_EQ(m_dlg.width(), units.ToPixelsX(405));
    EXPECT_EQ(m_dlg.height(), units.ToPixelsY(287));
    EXPECT_EQ(m_dlg.minimumSize(), m_dlg.maximumSize());  // not resizable
    // "Help" at 274, 9, 68, 14.
    EXPECT_EQ(m_probe.Control(kIdHelp)->geometry(), units.ToPixels(274, 9, 68, 14));
    // Reading order is kept: left to right and top to bottom as in the form.
    auto placeOf = [this](int nId) { return m_probe.Control(nId)->mapTo(&m_dlg, QPoint(0, 0)); };
    EXPECT_LT(placeOf(kIdMode0).x(), placeOf(kIdMode1).x());
    EXPECT_LT(placeOf(kIdMode0).y(), placeOf(kIdWiegand).y());
    EXPECT_LT(placeOf(kIdKey).y(), placeOf(kIdPassword).y());

    const QRect window = m_dlg.rect();
    // Radio buttons sit in their group's container.
    for (QWidget* pChild : m_dlg.findChildren<QWidget*>()) {
        if (!pChild->isVisible() || pChild->window() != &m_dlg)
            continue;
        EXPECT_TRUE(window.contains(QRect(pChild->mapTo(&m_dlg, QPoint(0, 0)), pChild->size())))
            << pChild->objectName().toStdString();
        const QString text = qobject_cast<QLabel*>(pChild)            ? qobject_cast<QLabel*>(pChild)->text()
                             : qobject_cast<QAbstractButton*>(pChild) ? qobject_cast<QAbstractButton*>(pChild)->text()
                                                                      : QString();
        if (text.isEmpty())
            continue;
        // Push buttons' size hints carry a style's minimum width; their text is what must fit.
        const int nNeeded = qobject_cast<QPushButton*>(pChild) != nullptr
                                ? pChild->fontMetrics().horizontalAdvance(text) + 6
                                : pChild->sizeHint().width();
        EXPECT_GE(pChild->width(), nNeeded) << text.toStdString();
        EXPECT_GE(pChild->height(), pChild->fontMetrics().height()) << text.toStdString();
    }
}

TEST_F(MainWindow, EditsAndListsAreKnownByTheirLabels)
{
    const std::vector<std::pair<int, const char*>> labels = {{kIdPortList, "Port:"},
                                                             {kIdImpulseWidth, "ImpulseWidth:"},
                                                             {kIdImpulseInterval, "ImpulseInterval:"},
                                                             {kIdSector, "Sector No.："},
                                                             {kIdBlock, "Block No.："},
                                                             {kIdStartAddress, "Start address in block:"},
                                                             {kIdEndAddress, "End address:"},
                                                             {kIdKey, "KEY:"},
                                                             {kIdPassword, "Password:"}};
    const auto allLabels = m_dlg.findChildren<QLabel*>();
    for (const auto& [nId, pszLabel] : labels) {
        const QString label = QString::fromUtf8(pszLabel);
        const auto it =
            std::find_if(allLabels.begin(), allLabels.end(), [&label](QLabel* p) { return p->text() == label; });
        ASSERT_NE(it, allLabels.end()) << pszLabel;
        EXPECT_EQ((*it)->buddy(), m_probe.Control(nId)) << pszLabel;
        EXPECT_FALSE(m_probe.Control(nId)->accessibleName().isEmpty()) << pszLabel;
        EXPECT_TRUE(QString::fromUtf8(pszLabel).startsWith(m_probe.Control(nId)->accessibleName()));
    }
}

TEST_F(MainWindow, TabVisitsTheControlsInTheFormsOrderAndSkipsRadioButtons)
{
    std::vector<int> visited;
    QWidget* pWidget = m_probe.Control(kIdExit);
    for (int nStep = 0; nStep < 200; ++nStep) {
        if ((pWidget->focusPolicy() & Qt::TabFocus) != 0) {
            const QString name = pWidget->objectName();
            if (!name.startsWith("control"))
                break;
            const int nId = name.mid(7).toInt();
            if (!visited.empty() && nId == visited.front())
                break;
            visited.push_back(nId);
        }
        pWidget = pWidget->nextInFocusChain();
    }
    EXPECT_EQ(visited, (std::vector<int>{kIdExit, kIdHelp, kIdImpulseInterval, kIdImpulseWidth, kIdMake, kIdSector,
                                         kIdBlock, kIdStartAddress, kIdKey, kIdPortList, kIdOpenPort, kIdClosePort,
                                         kIdEndAddress, kIdPassword, kIdLocking}));

    // At start the Tab key goes from "Exit" to "Help" to "OpenPort": disabled controls are skipped.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_probe.Control(kIdHelp));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_probe.Control(kIdOpenPort));
}

TEST_F(MainWindow, EditFieldsRefuseCharactersBeyondTheirLimits)
{
    m_probe.EnterConnectedState();
    ClickOn(m_dlg, kIdMode1);
    ClickOn(m_dlg, kIdUserDefined);
    const std::vector<std::tuple<int, const char*, const char*>> cases = {{kIdKey, "0123456789ABC", "0123456789AB"},
                                                                          {kIdPassword, "123456789", "12345678"},
                                                                          {kIdImpulseWidth, "1234", "123"},
                                                                          {kIdImpulseInterval, "9876", "987"}};
    for (const auto& [nId, pszTyped, pszKept] : cases) {
        QLineEdit* pEdit = EditOf(m_dlg, nId);
        ASSERT_TRUE(pEdit->isEnabled()) << nId;
        pEdit->clear();
        QTest::keyClicks(pEdit, QString::fromLatin1(pszTyped));
        EXPECT_EQ(pEdit->text(), QString::fromLatin1(pszKept)) << nId;
    }
    // What was typed stays as typed until a build or an interface choice reads it.
    EditOf(m_dlg, kIdKey)->setText("a5 c3");
    ClickOn(m_dlg, kIdAba);
    EXPECT_EQ(m_probe.Settings().m_strKey, "a5 c3");
    EXPECT_EQ(m_probe.Settings().m_strImpulseWidth, "123");
}

TEST_F(MainWindow, EnterInAnEditClosesWithOkAndEscapeWithCancel)
{
    m_probe.EnterConnectedState();
    EditOf(m_dlg, kIdPassword)->setFocus();
    QTest::keyClick(EditOf(m_dlg, kIdPassword), Qt::Key_Return);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);

    m_dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dlg));
    QTest::keyClick(&m_dlg, Qt::Key_Escape);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
}

TEST_F(MainWindow, ConnectedStateEnablesExactlyTheListedControlsAndResetsTheBlock)
{
    m_probe.EnterConnectedState();
    EXPECT_TRUE(m_probe.IsPortOpen());
    EXPECT_EQ(EnabledIds(m_dlg), kConnectedEnabled);
    ExpectDefaultValues(m_dlg);
    const SettingsBlock& block = m_probe.Build().m_settingsBlock;
    const SettingsBlock expected = {0x01, 0x02, 0x00, 0x00, 0x00, 0xA5, 0xC3, 0x0F, 0x7E, 0x9B, 0x12,
                                    0x40, 0x00, 0x28, 0x08, 0xAA, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(block, expected);
    // The window's own procedure and the data side agree.
    CardSettings settings;
    SettingsBlock fromRules{};
    ApplyConnectionDefaults(settings, fromRules);
    EXPECT_EQ(block, fromRules);
    EXPECT_EQ(m_probe.Settings().m_eInterface, InterfaceKind::Wiegand);
    EXPECT_EQ(m_probe.Settings().m_eAbaFormat, AbaFormat::H8ToD10);
    EXPECT_FALSE(m_probe.Settings().m_bConfigLocking);
    EXPECT_TRUE(m_boxes.m_records.empty());  // no confirmation from the programmatic check marks
}

TEST_F(MainWindow, ClosePortKeepsEveryValueAndTheNextConnectionRestoresTheDefaults)
{
    m_probe.EnterConnectedState();
    ClickOn(m_dlg, kIdMode1);
    ClickOn(m_dlg, kIdKeyB);
    ClickOn(m_dlg, kIdAba);
    ClickOn(m_dlg, kIdAba4H2HTo8D);
    ClickOn(m_dlg, kIdPasswordEnable);
    ListOf(m_dlg, kIdSector)->setCurrentIndex(7);
    EditOf(m_dlg, kIdKey)->setText("001122334455");
    m_boxes.m_confirmAnswers = {true};
    ClickOn(m_dlg, kIdLocking);
    ASSERT_EQ(m_probe.ConfigLockingFlag(), 1);
    const Ids checked = CheckedIds(m_dlg);
    const SettingsBlock block = m_probe.Build().m_settingsBlock;

    m_probe.Command(kIdClosePort);
    EXPECT_FALSE(m_probe.IsPortOpen());
    EXPECT_EQ(EnabledIds(m_dlg), (Ids{kIdExit, kIdHelp, kIdOpenPort}));
    EXPECT_EQ(CheckedIds(m_dlg), checked);
    EXPECT_EQ(m_probe.Build().m_settingsBlock, block);
    EXPECT_EQ(ListOf(m_dlg, kIdSector)->currentIndex(), 7);
    EXPECT_EQ(EditOf(m_dlg, kIdKey)->text(), "001122334455");
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 1);

    m_probe.EnterConnectedState();
    ExpectDefaultValues(m_dlg);
    EXPECT_EQ(m_probe.ConfigLockingFlag(), 0);
    EXPECT_EQ(m_probe.Build().m_settingsBlock.at(15), 0xAA);
    EXPECT_EQ(EnabledIds(m_dlg), kConnectedEnabled);
}

TEST_F(MainWindow, ListsOpenBelowToTheFormsHeightAndScrollWithinIt)
{
    m_probe.EnterConnectedState();
    ClickOn(m_dlg, kIdMode1);
    const DialogUnits units(m_dlg.font());
    // Each list's form rectangle: top and height in dialog units, opened list included.
    const std::vector<std::tuple<int, int, int>> lists = {
        {kIdSector, 150, 70}, {kIdBlock, 168, 59}, {kIdStartAddress, 143, 78}, {kIdEndAddress, 156, 71}};
    for (const auto& [nId, nTop, nHeight] : lists) {
        auto* pList = static_cast<FormList*>(ListOf(m_dlg, nId));
        ASSERT_TRUE(pList->isEnabled()) << nId;
        pList->showPopup();
        QWidget* pPopup = pList->Popup();
        ASSERT_NE(pPopup, nullptr) << nId;
        ASSERT_TRUE(WaitFor([&]() { return pPopup->isVisible(); }, std::chrono::seconds(5))) << nId;
        const int nListBottom = m_dlg.mapToGlobal(QPoint(0, units.ToPixelsY(nTop + nHeight))).y();
        const QRect popup = pPopup->geometry();
        EXPECT_GE(popup.top(), pList->mapToGlobal(QPoint(0, pList->height())).y() - 1) << nId;
        EXPECT_LE(popup.bottom(), nListBottom) << nId;
        const int nRow = pList->view()->sizeHintForRow(0);
        const bool bScrolls = pList->view()->verticalScrollBar()->maximum() > 0;
        if (pList->count() * nRow <= popup.height()) {
            EXPECT_FALSE(bScrolls) << nId;
        } else {
            // Cut to the form's height, not to a few rows short of it, and scrolling.
            EXPECT_GT(popup.bottom(), nListBottom - 2 * nRow) << nId;
            EXPECT_TRUE(bScrolls) << nId;
        }
        pList->hidePopup();
    }
}

TEST(DialogUnitsTest, ScaleWithTheFontAndKeepAdjacentEdgesTogether)
{
    QFont small(QString::fromUtf8(kDialogFontFamily));
    small.setPixelSize(12);
    QFont large = small;
    large.setPixelSize(24);
    const DialogUnits a(small), b(large);
    EXPECT_NEAR(static_cast<double>(b.ToPixelsX(405)) / a.ToPixelsX(405), 2.0, 0.2);
    EXPECT_NEAR(static_cast<double>(b.ToPixelsY(287)) / a.ToPixelsY(287), 2.0, 0.2);
    // Two frames that meet in dialog units meet in pixels.
    EXPECT_EQ(a.ToPixels(1, 1, 213, 25).right() + 1, a.ToPixels(214, 1, 190, 25).left());
    EXPECT_EQ(a.ToPixels(1, 26, 403, 22).bottom() + 1, a.ToPixels(1, 48, 403, 1).top());
}

TEST(MinimisedIcon, IsCentredInTheClientAreaRoundingTowardZero)
{
    EXPECT_EQ(MinimisedIconPosition(36, 36, 32, 32).m_nX, 2);
    EXPECT_EQ(MinimisedIconPosition(36, 36, 32, 32).m_nY, 2);
    EXPECT_EQ(MinimisedIconPosition(37, 100, 32, 32).m_nX, 3);
    EXPECT_EQ(MinimisedIconPosition(37, 100, 32, 32).m_nY, 34);
    EXPECT_EQ(MinimisedIconPosition(20, 20, 32, 32).m_nX, -5);  // -11 / 2 toward zero
}

}  // namespace
}  // namespace varnis::uitest
