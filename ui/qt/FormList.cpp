#include "ui/qt/FormList.h"

#include "ui/qt/FormAccessible.h"

#include <QAbstractItemView>

#include <algorithm>

namespace varnis {

FormList::FormList(QWidget* pParent) : QComboBox(pParent)
{
    setEditable(false);
    // Styles that open a list as a menu over the control show every item and
    // ignore the visible count; this list opens below the control instead.
    setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    // Up and Down on the closed list change its value without opening it.
    connect(this, &QComboBox::currentIndexChanged, this, [this]() {
        if (hasFocus() && !view()->isVisible())
            AnnounceListValue(*this);
    });
}

QWidget* FormList::Popup() const
{
    QWidget* pContainer = view()->parentWidget();
    return pContainer != nullptr && pContainer->isWindow() ? pContainer : nullptr;
}

void FormList::showPopup()
{
    if (m_nOpenHeight > 0) {
        const int nRow = std::max(1, view()->sizeHintForRow(0));
        setMaxVisibleItems(std::max(1, m_nOpenHeight / nRow));
    }
    QComboBox::showPopup();
    QWidget* pPopup = Popup();
    if (m_nOpenHeight <= 0 || pPopup == nullptr || pPopup->height() <= m_nOpenHeight)
        return;
    // The frame and margins of the opened list come on top of its rows: cut
    // it to the form's height, on the side away from the control.
    QRect rect = pPopup->geometry();
    if (rect.top() >= mapToGlobal(QPoint(0, height())).y() - 1)
        rect.setHeight(m_nOpenHeight);
    else
        rect.setTop(rect.bottom() + 1 - m_nOpenHeight);
    pPopup->setGeometry(rect);
}

}  // namespace varnis
