#include "ui/qt/FormAccessible.h"

#include "ui/qt/AccessibleText.h"
#include "ui/qt/FormList.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>
#include <QValidator>

namespace varnis {

namespace {

// The piece of `text` asked for, with -2 standing for the cursor as Qt's own
// interfaces take it.
QString Piece(const QString& text, int nOffset, int nCursor, QAccessible::TextBoundaryType eBoundary, PieceWhere eWhere,
              int* pnStart, int* pnEnd)
{
    const TextPiece piece = FindTextPiece(text, nOffset == -2 ? nCursor : nOffset, eBoundary, eWhere);
    *pnStart = piece.m_nStart;
    *pnEnd = piece.m_nEnd;
    return piece.m_strText;
}

// A single-line edit field; what Qt's own interface for it does, with the
// text at, after and before an offset found by AccessibleText.h.
class EditAccessible final : public QAccessibleWidget,
                             public QAccessibleTextInterface,
                             public QAccessibleEditableTextInterface {
public:
    explicit EditAccessible(QLineEdit* pEdit) : QAccessibleWidget(pEdit, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType eType) override
    {
        if (eType == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (eType == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(eType);
    }

    QString text(QAccessible::Text eText) const override
    {
        if (eText == QAccessible::Value)
            return Edit()->echoMode() == QLineEdit::NoEcho ? QString() : Edit()->displayText();
        return QAccessibleWidget::text(eText);
    }

    void setText(QAccessible::Text eText, const QString& text) override
    {
        if (eText == QAccessible::Value)
            Replace(text);
        else
            QAccessibleWidget::setText(eText, text);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = Edit()->isReadOnly();
        state.editable = !Edit()->isReadOnly();
        state.passwordEdit = Edit()->echoMode() != QLineEdit::Normal;
        state.selectableText = true;
        return state;
    }

    // QAccessibleTextInterface
    void selection(int nSelection, int* pnStart, int* pnEnd) const override
    {
        *pnStart = *pnEnd = 0;
        if (nSelection != 0 || !Edit()->hasSelectedText())
            return;
        *pnStart = Edit()->selectionStart();
        *pnEnd = *pnStart + static_cast<int>(Edit()->selectedText().size());
    }
    int selectionCount() const override { return Edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int nStart, int nEnd) override { setSelection(0, nStart, nEnd); }
    void removeSelection(int nSelection) override
    {
        if (nSelection == 0)
            Edit()->deselect();
    }
    void setSelection(int nSelection, int nStart, int nEnd) override
    {
        if (nSelection == 0)
            Edit()->setSelection(nStart, nEnd - nStart);
    }
    int cursorPosition() const override { return Edit()->cursorPosition(); }
    void setCursorPosition(int nPosition) override { Edit()->setCursorPosition(nPosition); }
    QString text(int nStart, int nEnd) const override { return Shown().mid(nStart, nEnd - nStart); }
    int characterCount() const override { return static_cast<int>(Edit()->text().size()); }
    QRect characterRect(int nOffset) const override
    {
        // From the cursor's place, which Qt tells, and the text's advance.
        const QString shown = Edit()->displayText();
        if (nOffset < 0 || nOffset >= shown.size())
            return {};
        const QFontMetrics metrics(Edit()->font());
        const QRect cursor = Edit()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const int nX = cursor.x() + metrics.horizontalAdvance(shown.left(nOffset)) -
                       metrics.horizontalAdvance(shown.left(Edit()->cursorPosition()));
        const QRect rect(nX, cursor.y(), metrics.horizontalAdvance(shown.at(nOffset)), cursor.height());
        return {Edit()->mapToGlobal(rect.topLeft()), rect.size()};
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return Edit()->cursorPositionAt(Edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int nStart, int nEnd) override
    {
        Edit()->setCursorPosition(nEnd);
        Edit()->setCursorPosition(nStart);
    }
    QString attributes(int nOffset, int* pnStart, int* pnEnd) const override
    {
        *pnStart = *pnEnd = nOffset;
        return {};
    }
    QString textBeforeOffset(int nOffset, QAccessible::TextBoundaryType eBoundary, int* pnStart,
                             int* pnEnd) const override
    {
        return Piece(Shown(), nOffset, cursorPosition(), eBoundary, PieceWhere::Before, pnStart, pnEnd);
    }
    QString textAfterOffset(int nOffset, QAccessible::TextBoundaryType eBoundary, int* pnStart,
                            int* pnEnd) const override
    {
        return Piece(Shown(), nOffset, cursorPosition(), eBoundary, PieceWhere::After, pnStart, pnEnd);
    }
    QString textAtOffset(int nOffset, QAccessible::TextBoundaryType eBoundary, int* pnStart, int* pnEnd) const override
    {
        return Piece(Shown(), nOffset, cursorPosition(), eBoundary, PieceWhere::At, pnStart, pnEnd);
    }

    // QAccessibleEditableTextInterface
    void deleteText(int nStart, int nEnd) override { Replace(Edit()->text().remove(nStart, nEnd - nStart)); }
    void insertText(int nOffset, const QString& text) override { Replace(Edit()->text().insert(nOffset, text)); }
    void replaceText(int nStart, int nEnd, const QString& text) override
    {
        Replace(Edit()->text().replace(nStart, nEnd - nStart, text));
    }

private:
    QLineEdit* Edit() const { return static_cast<QLineEdit*>(widget()); }
    // A password's text is not told, only its length.
    QString Shown() const { return Edit()->echoMode() == QLineEdit::Normal ? Edit()->text() : QString(); }
    void Replace(QString text)
    {
        if (Edit()->isReadOnly())
            return;
        if (const QValidator* pValidator = Edit()->validator()) {
            int nPosition = 0;
            if (pValidator->validate(text, nPosition) != QValidator::Acceptable)
                return;
        }
        Edit()->setText(text);
    }
};

// A drop-down list without an edit field: Qt's own interface, and its value
// as read-only text, where screen readers look for a list's value.
class ListAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ListAccessible(QComboBox* pList) : QAccessibleWidget(pList, QAccessible::ComboBox) {}

    void* interface_cast(QAccessible::InterfaceType eType) override
    {
        if (eType == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(eType);
    }

    // The opened list is the only child.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int nIndex) const override
    {
        return nIndex == 0 ? QAccessible::queryAccessibleInterface(List()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* pChild) const override
    {
        return pChild != nullptr && pChild->object() == List()->view() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        QAccessibleInterface* pView = child(0);
        return pView != nullptr && List()->view()->isVisible() && pView->rect().contains(x, y) ? pView : nullptr;
    }

    // Named by its label (a relation); its name, like its value, is the
    // chosen item, as with Qt's own interface on this platform.
    QString text(QAccessible::Text eText) const override
    {
        if (eText == QAccessible::Name || eText == QAccessible::Value)
            return List()->currentText();
        return QAccessibleWidget::text(eText);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = List()->view()->isVisible();
        state.readOnly = true;
        return state;
    }

    QStringList actionNames() const override
    {
        return {QAccessibleActionInterface::showMenuAction(), QAccessibleActionInterface::pressAction()};
    }
    void doAction(const QString& action) override
    {
        if (action != QAccessibleActionInterface::showMenuAction() &&
            action != QAccessibleActionInterface::pressAction())
            return QAccessibleWidget::doAction(action);
        if (List()->view()->isVisible())
            List()->hidePopup();
        else
            List()->showPopup();
    }

    // QAccessibleTextInterface: the value, read only.
    void selection(int /*nSelection*/, int* pnStart, int* pnEnd) const override { *pnStart = *pnEnd = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int /*nStart*/, int /*nEnd*/) override {}
    void removeSelection(int /*nSelection*/) override {}
    void setSelection(int /*nSelection*/, int /*nStart*/, int /*nEnd*/) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int /*nPosition*/) override {}
    QString text(int nStart, int nEnd) const override { return List()->currentText().mid(nStart, nEnd - nStart); }
    int characterCount() const override { return static_cast<int>(List()->currentText().size()); }
    QRect characterRect(int /*nOffset*/) const override { return {}; }
    int offsetAtPoint(const QPoint& /*point*/) const override { return -1; }
    void scrollToSubstring(int /*nStart*/, int /*nEnd*/) override {}
    QString attributes(int nOffset, int* pnStart, int* pnEnd) const override
    {
        *pnStart = *pnEnd = nOffset;
        return {};
    }
    QString textBeforeOffset(int nOffset, QAccessible::TextBoundaryType eBoundary, int* pnStart,
                             int* pnEnd) const override
    {
        return Piece(List()->currentText(), nOffset, 0, eBoundary, PieceWhere::Before, pnStart, pnEnd);
    }
    QString textAfterOffset(int nOffset, QAccessible::TextBoundaryType eBoundary, int* pnStart,
                            int* pnEnd) const override
    {
        return Piece(List()->currentText(), nOffset, 0, eBoundary, PieceWhere::After, pnStart, pnEnd);
    }
    QString textAtOffset(int nOffset, QAccessible::TextBoundaryType eBoundary, int* pnStart, int* pnEnd) const override
    {
        return Piece(List()->currentText(), nOffset, 0, eBoundary, PieceWhere::At, pnStart, pnEnd);
    }

private:
    QComboBox* List() const { return static_cast<QComboBox*>(widget()); }
};

// A note names the controls it describes as those it is a label for: the
// relation a note can have through this Qt's AT-SPI bridge.
class NoteAccessible final : public QAccessibleWidget {
public:
    explicit NoteAccessible(FormNote* pNote) : QAccessibleWidget(pNote, QAccessible::StaticText) {}

    QString text(QAccessible::Text eText) const override
    {
        if (eText == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<FormNote*>(widget())->text();
        return QAccessibleWidget::text(eText);
    }

    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        auto relations = QAccessibleWidget::relations(match);
        if ((match & QAccessible::Labelled) == 0)
            return relations;
        for (QWidget* pControl : static_cast<FormNote*>(widget())->Described()) {
            if (QAccessibleInterface* pInterface = QAccessible::queryAccessibleInterface(pControl))
                relations.append({pInterface, QAccessible::Labelled});
        }
        return relations;
    }
};

FormEventObserver g_observer = nullptr;

// Qt asks the factories for each class of an object, the most derived first,
// and keeps what they make until the object is gone; it deletes it then.
QAccessibleInterface* MakeFormInterface(const QString& /*className*/, QObject* pObject)
{
    if (auto* pList = qobject_cast<FormList*>(pObject))
        return new ListAccessible(pList);
    if (auto* pEdit = qobject_cast<QLineEdit*>(pObject))
        return new EditAccessible(pEdit);
    if (auto* pGroup = qobject_cast<FormRadioGroup*>(pObject))
        return new QAccessibleWidget(pGroup, QAccessible::Grouping);
    if (auto* pNote = qobject_cast<FormNote*>(pObject))
        return new NoteAccessible(pNote);
    return nullptr;
}

}  // namespace

void InstallFormAccessibility()
{
    static const bool bInstalled = []() {
        QAccessible::installFactory(&MakeFormInterface);
        return true;
    }();
    (void)bInstalled;
}

void AnnounceListValue(QComboBox& list)
{
    // Screen readers present a list's new value when their point of regard
    // moves to the chosen item, as it does inside an opened list.
    QAccessibleInterface* pView = QAccessible::queryAccessibleInterface(list.view());
    QAccessibleTableInterface* pTable = pView != nullptr ? pView->tableInterface() : nullptr;
    QAccessibleInterface* pItem = pTable != nullptr ? pTable->cellAt(list.currentIndex(), 0) : nullptr;
    if (pItem == nullptr)
        return;
    QAccessibleEvent event(pItem, QAccessible::Focus);
    if (g_observer != nullptr)
        g_observer(event);
    QAccessible::updateAccessibility(&event);
}

void SetFormEventObserver(FormEventObserver observer)
{
    g_observer = observer;
}

FormRadioGroup::FormRadioGroup(const QString& name, QWidget* pParent) : QWidget(pParent)
{
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(name);
}

FormNote::FormNote(const QString& text, QWidget* pParent) : QLabel(text, pParent) {}

void FormNote::Describe(QWidget* pControl)
{
    m_described.append(pControl);
}

QList<QWidget*> FormNote::Described() const
{
    QList<QWidget*> controls;
    for (const QPointer<QWidget>& pControl : m_described) {
        if (pControl != nullptr)
            controls.append(pControl);
    }
    return controls;
}

}  // namespace varnis
