#include "ui/qt/HelpDialog.h"

#include "ui/qt/DialogUnits.h"
#include "ui/core/FormTable.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextLayout>
#include <QTextOption>

#include <cmath>

namespace varnis {

QString BuildGuideText()
{
    return QString::fromStdString(GuideText());
}

namespace {

QRect HelpItemRect(const DialogUnits& units, int nId)
{
    for (const FormItem& item : HelpFormItems()) {
        if (item.m_nId == nId)
            return units.ToPixels(item.x, item.y, item.w, item.h);
    }
    return {};
}

}  // namespace

HelpDialog::HelpDialog(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QString::fromUtf8(kHelpWindowTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    const QFont font(QString::fromUtf8(kHelpFontFamily), kHelpFontPoints);
    setFont(font);
    const DialogUnits units(font);
    setFixedSize(units.ToPixelsX(kHelpWidthUnits), units.ToPixelsY(kHelpHeightUnits));

    m_pOk = new QPushButton(QStringLiteral("OK"), this);
    m_pOk->setObjectName(QStringLiteral("control%1").arg(kIdExit));
    m_pOk->setDefault(true);
    m_pOk->setGeometry(HelpItemRect(units, kIdExit));
    connect(m_pOk, &QPushButton::clicked, this, &QDialog::accept);

    m_pText = new QPlainTextEdit(this);
    m_pText->setObjectName(QStringLiteral("control%1").arg(kIdHelpText));
    m_pText->setReadOnly(true);
    // A caret the keyboard moves, so that a screen reader reads the guide
    // line by line.
    m_pText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_pText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_pText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_pText->setAccessibleName(QString::fromUtf8(kGuideAccessibleName));
    m_pText->setGeometry(HelpItemRect(units, kIdHelpText));

    QWidget::setTabOrder(m_pOk, m_pText);
    OnInitDialog();
    FitGuideToField();
}

void HelpDialog::FitGuideToField()
{
    // The field's inner size: its frame, the document's margins and the
    // scroll bar, which is always shown, taken off.
    const QRect inner = m_pText->contentsRect();
    const int nMargin = static_cast<int>(std::ceil(m_pText->document()->documentMargin()));
    const int nScrollBar = m_pText->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_pText);
    const int nWidth = inner.width() - nScrollBar - 2 * nMargin;
    const int nHeight = inner.height() - 2 * nMargin;
    const QStringList paragraphs = m_pText->toPlainText().split(u'\n');
    // The largest size, in half points from the window's own down, at which
    // the whole guide shows without scrolling.
    QFont font = m_pText->font();
    for (int nHalfPoints = 2 * kHelpFontPoints; nHalfPoints >= 2 * kHelpMinFontPoints; --nHalfPoints) {
        font.setPointSizeF(nHalfPoints / 2.0);
        if (TextHeight(paragraphs, font, nWidth, m_pText->wordWrapMode()) <= nHeight)
            break;
    }
    m_pText->setFont(font);
}

int HelpDialog::TextHeight(const QStringList& paragraphs, const QFont& font, int nWidth, QTextOption::WrapMode eWrap)
{
    QTextOption option;
    option.setWrapMode(eWrap);
    qreal height = 0;
    for (const QString& paragraph : paragraphs) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(nWidth);
            height += line.height();
        }
        layout.endLayout();
    }
    return static_cast<int>(std::ceil(height));
}

void HelpDialog::OnInitDialog()
{
    m_strGuide = BuildGuideText();
    // The field shows one line per line break.
    QString shown = m_strGuide;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_pText->setPlainText(shown);
    m_pOk->setFocus(Qt::OtherFocusReason);
}

}  // namespace varnis
