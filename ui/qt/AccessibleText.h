// The text at, after and before an offset of a plain text, by character, word,
// sentence, line or paragraph, as assistive technology asks for it. Every
// answer is found in one bounded pass over the text, so an offset at or past
// the end, or an empty text, is answered like any other.
//
// An offset lies in the piece that begins at or before it; the end of the
// text lies in the last piece (a word, sentence or line: the one that ends
// there; a character: the empty piece after the last one; a line: the empty
// line after a final line break). Pieces are those the text's own boundaries
// give: words and the runs between them, sentences, and lines with their line
// break.
#pragma once

#include <QAccessible>
#include <QString>

namespace varnis {

struct TextPiece {
    QString m_strText;
    int m_nStart = -1;
    int m_nEnd = -1;
};

enum class PieceWhere { Before, At, After };

// An offset outside 0 to the text's length gets an empty piece at -1, -1;
// before the first piece and after the last one, an empty piece at that end.
TextPiece FindTextPiece(const QString& text, int nOffset, QAccessible::TextBoundaryType eBoundary, PieceWhere eWhere);

}  // namespace varnis
