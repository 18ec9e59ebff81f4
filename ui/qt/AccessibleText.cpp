#include "ui/qt/AccessibleText.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <vector>

namespace varnis {

namespace {

// Where the pieces begin, and the text's end: 0 first, the length last.
std::vector<int> PieceBounds(const QString& text, QAccessible::TextBoundaryType eBoundary)
{
    const int nLength = static_cast<int>(text.size());
    std::vector<int> bounds = {0};
    auto add = [&bounds, nLength](int nBound) {
        if (nBound > bounds.back() && nBound <= nLength)
            bounds.push_back(nBound);
    };
    switch (eBoundary) {
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary:
        for (qsizetype n = text.indexOf(u'\n'); n >= 0; n = text.indexOf(u'\n', n + 1))
            add(static_cast<int>(n) + 1);
        break;
    case QAccessible::NoBoundary: break;
    case QAccessible::CharBoundary:
    case QAccessible::WordBoundary:
    case QAccessible::SentenceBoundary: {
        const auto eType = eBoundary == QAccessible::CharBoundary   ? QTextBoundaryFinder::Grapheme
                           : eBoundary == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                                    : QTextBoundaryFinder::Sentence;
        QTextBoundaryFinder finder(eType, text);
        // One step per boundary, each further on than the last; the finder
        // answers -1 at the end. The count of steps bounds the loop whatever
        // the finder answers.
        int nLast = 0;
        for (int nStep = 0; nStep <= nLength; ++nStep) {
            const int nBound = static_cast<int>(finder.toNextBoundary());
            if (nBound <= nLast)
                break;
            nLast = nBound;
            // A word boundary counts where a word begins or ends: the pieces
            // are the words and the runs between them.
            const auto reasons = finder.boundaryReasons();
            if (eBoundary != QAccessible::WordBoundary ||
                (reasons & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem)) != 0)
                add(nBound);
        }
        break;
    }
    }
    if (bounds.back() != nLength)
        bounds.push_back(nLength);
    return bounds;
}

}  // namespace

TextPiece FindTextPiece(const QString& text, int nOffset, QAccessible::TextBoundaryType eBoundary, PieceWhere eWhere)
{
    const int nLength = static_cast<int>(text.size());
    if (nOffset < 0 || nOffset > nLength)
        return {};
    const std::vector<int> bounds = PieceBounds(text, eBoundary);
    const int nPieces = static_cast<int>(bounds.size()) - 1;
    // The end of the text is a piece of its own (empty) after the last
    // character, after a final line break, and in an empty text.
    const bool bLineBoundary = eBoundary == QAccessible::LineBoundary || eBoundary == QAccessible::ParagraphBoundary;
    const bool bEndApart = eBoundary == QAccessible::CharBoundary || nPieces == 0 ||
                           (bLineBoundary && text.endsWith(u'\n'));
    const int nLastPiece = bEndApart ? nPieces : nPieces - 1;
    int nPiece = nLastPiece;
    if (nOffset < nLength || !bEndApart) {
        const auto it = std::upper_bound(bounds.begin(), bounds.end(), nOffset);
        nPiece = std::min(static_cast<int>(it - bounds.begin()) - 1, nPieces - 1);
    }
    if (eWhere == PieceWhere::Before)
        --nPiece;
    else if (eWhere == PieceWhere::After)
        ++nPiece;
    if (nPiece < 0)
        return {QString(), 0, 0};
    if (nPiece > nLastPiece || nPiece == nPieces)
        return {QString(), nLength, nLength};
    const int nStart = bounds[static_cast<std::size_t>(nPiece)];
    const int nEnd = bounds[static_cast<std::size_t>(nPiece) + 1];
    return {text.mid(nStart, nEnd - nStart), nStart, nEnd};
}

}  // namespace varnis
