#include "ui/UiTestSupport.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace varnis::uitest {

namespace {

// One QApplication for the whole test program, made on the main thread.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "varnis-ui-tests";
        static char* argv[] = {name, nullptr};
        m_pApp = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_pApp.reset(); }

private:
    std::unique_ptr<QApplication> m_pApp;
};

[[maybe_unused]] ::testing::Environment* const g_pQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void FakeMessageBoxes::Show(BoxRecord record)
{
    m_records.push_back(record);
    ++m_nOpen;
    if (m_onShow)
        m_onShow(record);
    --m_nOpen;
}

void FakeMessageBoxes::Message(QWidget* pOwner, const QString& text, const QString& caption)
{
    Show({BoxRecord::Kind::Message, text, caption, pOwner != nullptr});
}

void FakeMessageBoxes::Error(const QString& text, const QString& caption)
{
    Show({BoxRecord::Kind::Error, text, caption, false});
}

bool FakeMessageBoxes::Confirm(QWidget* pOwner, const QString& text, const QString& caption)
{
    Show({BoxRecord::Kind::Confirm, text, caption, pOwner != nullptr});
    if (m_confirmAnswers.empty())
        return false;
    const bool bAnswer = m_confirmAnswers.front();
    m_confirmAnswers.pop_front();
    return bAnswer;
}

bool FakeMessageBoxes::Has(const QString& text) const
{
    return CountOf(text) > 0;
}

int FakeMessageBoxes::CountOf(const QString& text) const
{
    return static_cast<int>(
        std::count_if(m_records.begin(), m_records.end(), [&](const BoxRecord& r) { return r.m_strText == text; }));
}

QAbstractButton* Button(const VarnisDlg& dlg, int nId)
{
    return qobject_cast<QAbstractButton*>(VarnisDlgProbe(dlg).Control(nId));
}

QLineEdit* EditOf(const VarnisDlg& dlg, int nId)
{
    return qobject_cast<QLineEdit*>(VarnisDlgProbe(dlg).Control(nId));
}

QComboBox* ListOf(const VarnisDlg& dlg, int nId)
{
    return qobject_cast<QComboBox*>(VarnisDlgProbe(dlg).Control(nId));
}

const std::vector<int>& AllControlIds()
{
    static const std::vector<int> ids = {kIdExit,
                                         kIdHelp,
                                         kIdUserDefined,
                                         kIdImpulseInterval,
                                         kIdImpulseWidth,
                                         kIdMake,
                                         kIdSector,
                                         kIdBlock,
                                         kIdStartAddress,
                                         kIdKey,
                                         kIdPortList,
                                         kIdOpenPort,
                                         kIdClosePort,
                                         kIdMode0,
                                         kIdMode1,
                                         kIdWiegand,
                                         kIdAba,
                                         kIdWiegand26,
                                         kIdWiegand34,
                                         kIdWiegand42,
                                         kIdAba8HTo10D,
                                         kIdAba6HTo8D,
                                         kIdAba6HTo10D,
                                         kIdAba4H2HTo10D,
                                         kIdAba4H2HTo8D,
                                         kIdKeyA,
                                         kIdKeyB,
                                         kIdMsbFirst,
                                         kIdLsbFirst,
                                         kIdDefaultTiming,
                                         kIdEndAddress,
                                         kIdPasswordEnable,
                                         kIdPasswordDisable,
                                         kIdLocking,
                                         kIdPassword};
    return ids;
}

std::set<int> EnabledIds(const VarnisDlg& dlg)
{
    std::set<int> ids;
    for (const int nId : AllControlIds())
        if (VarnisDlgProbe(dlg).Control(nId)->isEnabled())
            ids.insert(nId);
    return ids;
}

std::set<int> CheckedIds(const VarnisDlg& dlg)
{
    std::set<int> ids;
    for (const int nId : AllControlIds())
        if (QAbstractButton* pButton = Button(dlg, nId);
            pButton != nullptr && pButton->isCheckable() && pButton->isChecked())
            ids.insert(nId);
    return ids;
}

void ClickOn(const VarnisDlg& dlg, int nId)
{
    QWidget* pControl = VarnisDlgProbe(dlg).Control(nId);
    // Radio buttons and check boxes take clicks on their indicator and text.
    QTest::mouseClick(pControl, Qt::LeftButton, Qt::NoModifier, QPoint(6, pControl->height() / 2));
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return QTest::qWaitFor(done, static_cast<int>(limit.count()));
}

}  // namespace varnis::uitest
