// Dialog units: form geometry given in units of the dialog font, so a form
// keeps its proportions at any font size and screen resolution.
#pragma once

#include <QFont>
#include <QRect>

namespace varnis {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // Horizontal base unit: the font's average character width in pixels;
    // one dialog unit is a quarter of it. Vertical: the character height,
    // one dialog unit is an eighth of it.
    int BaseWidth() const { return m_nBaseWidth; }
    int BaseHeight() const { return m_nBaseHeight; }

    int ToPixelsX(int nUnits) const;
    int ToPixelsY(int nUnits) const;
    QRect ToPixels(int x, int y, int w, int h) const;

private:
    int m_nBaseWidth = 1;
    int m_nBaseHeight = 1;
};

}  // namespace varnis
