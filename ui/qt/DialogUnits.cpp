#include "ui/qt/DialogUnits.h"

#include <QFontMetrics>
#include <algorithm>

namespace varnis {

namespace {

// Rounded n * numerator / denominator for non-negative values.
int ScaleRounded(int n, int numerator, int denominator)
{
    const long long product = static_cast<long long>(n) * numerator;
    const long long rounded = product >= 0 ? (product + denominator / 2) / denominator
                                           : -((-product + denominator / 2) / denominator);
    return static_cast<int>(rounded);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    // The average width of the 52 Latin letters, rounded, as dialog
    // templates have always measured it.
    const int nLetters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseWidth = std::max(1, (nLetters / 26 + 1) / 2);
    m_nBaseHeight = std::max(1, metrics.height());
}

int DialogUnits::ToPixelsX(int nUnits) const
{
    return ScaleRounded(nUnits, m_nBaseWidth, 4);
}

int DialogUnits::ToPixelsY(int nUnits) const
{
    return ScaleRounded(nUnits, m_nBaseHeight, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int w, int h) const
{
    const int left = ToPixelsX(x);
    const int top = ToPixelsY(y);
    // Right and bottom edges are mapped, not the extents, so that adjacent
    // controls stay adjacent after rounding.
    return QRect(QPoint(left, top), QPoint(ToPixelsX(x + w) - 1, ToPixelsY(y + h) - 1));
}

}  // namespace varnis
