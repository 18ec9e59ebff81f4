#include "ui/qt/FormFrame.h"

#include <QPainter>
#include <QPalette>

namespace varnis {

FormFrame::FormFrame(const QString& caption, QWidget* pParent) : QWidget(pParent), m_strCaption(caption)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    if (!caption.isEmpty())
        setAccessibleName(caption);
}

void FormFrame::paintEvent(QPaintEvent* /*pEvent*/)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int nTop = metrics.height() / 2;
    const QRect frame(0, nTop, width() - 2, height() - nTop - 2);
    const QPalette& pal = palette();
    // Etched: a dark line with a light line one pixel below and to the right.
    painter.setPen(pal.color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1));
    painter.setPen(pal.color(QPalette::Mid));
    painter.drawRect(frame);
    if (m_strCaption.isEmpty())
        return;
    const int nIndent = metrics.averageCharWidth() + 2;
    const int nTextWidth = metrics.horizontalAdvance(m_strCaption);
    const QRect textRect(nIndent, 0, nTextWidth + 4, metrics.height());
    painter.fillRect(textRect, pal.color(QPalette::Window));
    painter.setPen(pal.color(QPalette::WindowText));
    painter.drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, m_strCaption);
}

}  // namespace varnis
