// What the window tests share: the application object, recorded message
// boxes, and small helpers to click and to read the form.
#pragma once

#include "ui/qt/MessageBoxes.h"
#include "serial/PortTable.h"
#include "ui/qt/VarnisDlg.h"
#include "ui/qt/VarnisDlgProbe.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <set>
#include <vector>

namespace varnis::uitest {

struct BoxRecord {
    enum class Kind { Message, Error, Confirm };
    Kind m_eKind = Kind::Message;
    QString m_strText;
    QString m_strCaption;
    bool m_bOwned = false;  // opened with the window as owner
};

// Answers every box at once (or after `m_onShow`, which may run a nested
// event loop to keep the box "open" for a while). Confirmations are answered
// from `m_confirmAnswers`, Cancel when it is empty.
class FakeMessageBoxes : public IMessageBoxes {
public:
    void Message(QWidget* pOwner, const QString& text, const QString& caption) override;
    void Error(const QString& text, const QString& caption) override;
    bool Confirm(QWidget* pOwner, const QString& text, const QString& caption) override;

    std::vector<BoxRecord> m_records;
    std::deque<bool> m_confirmAnswers;
    std::function<void(const BoxRecord&)> m_onShow;
    int m_nOpen = 0;  // boxes open right now

    bool Has(const QString& text) const;
    int CountOf(const QString& text) const;

private:
    void Show(BoxRecord record);
};

// The form's controls by id.
QAbstractButton* Button(const VarnisDlg& dlg, int nId);
QLineEdit* EditOf(const VarnisDlg& dlg, int nId);
QComboBox* ListOf(const VarnisDlg& dlg, int nId);
// Every control id of the form.
const std::vector<int>& AllControlIds();
std::set<int> EnabledIds(const VarnisDlg& dlg);
std::set<int> CheckedIds(const VarnisDlg& dlg);
// A mouse click in the middle of the control, as a person would do it.
void ClickOn(const VarnisDlg& dlg, int nId);
// Processes events until `done` or `limit`; true if done.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

}  // namespace varnis::uitest
