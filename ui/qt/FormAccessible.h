// What the form shows assistive technology beyond Qt's own accessible
// interfaces (docs/accessibility.md says why each is there):
// - edit fields answer the text at, after and before an offset themselves
//   (AccessibleText.h), the end of their text included;
// - a drop-down list shows its value as its text, and a change of value moves
//   the screen reader's point of regard to the chosen item;
// - the radio buttons of a group sit in a group (FormRadioGroup) named after
//   the group's frame;
// - a note beside a control (FormNote) points to the control it describes.
#pragma once

#include <QLabel>
#include <QList>
#include <QPointer>
#include <QWidget>

class QAccessibleEvent;
class QComboBox;

namespace varnis {

// Puts the form's own interfaces in front of Qt's; once per process, before
// any of the form's widgets is first asked for.
void InstallFormAccessibility();

// Tells assistive technology the new value of a closed list that has the focus.
void AnnounceListValue(QComboBox& list);
// Sees each event that the form raises itself, before Qt hands it on (which it
// does only while assistive technology listens); null for none.
using FormEventObserver = void (*)(const QAccessibleEvent& event);
void SetFormEventObserver(FormEventObserver observer);

// An invisible container of one radio group: assistive technology hears its
// name as the group's and each button's place in it.
class FormRadioGroup : public QWidget {
    Q_OBJECT
public:
    FormRadioGroup(const QString& name, QWidget* pParent);
};

// A note beside a control, which describes it (the control's accessible
// description carries the note's text).
class FormNote : public QLabel {
    Q_OBJECT
public:
    FormNote(const QString& text, QWidget* pParent);
    void Describe(QWidget* pControl);
    QList<QWidget*> Described() const;

private:
    QList<QPointer<QWidget>> m_described;
};

}  // namespace varnis
