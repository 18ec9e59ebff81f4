// The dialog font where the face the form names is missing: the same size,
// a face with the Chinese glyphs the form shows and Latin letters as wide as
// the named song face draws them (half as wide as the font is high), so that
// every text keeps the room the form gives it.
#pragma once

#include <span>
#include <string>

namespace varnis {

// What was measured of one present face: whether it has the simplified
// Chinese glyphs, and the width of the printable ASCII letters (all 95 of
// them, once each) at the dialog font's height.
struct FaceFacts {
    std::wstring m_strFace;
    bool m_bHasCjk = false;
    int m_nLatinWidth = 0;
};

// The index in `faces` of the face to use for a font `nHeight` pixels high:
// of those with the Chinese glyphs, the one whose Latin width is nearest the
// song face's, if it is within an eighth of it; -1 when none qualifies.
int ChooseStandIn(std::span<const FaceFacts> faces, int nHeight);

// The Latin width of the song face at `nHeight` pixels: each letter half
// the height, a half pixel rounded up.
constexpr int SongLatinWidth(int nHeight)
{
    return 95 * ((nHeight + 1) / 2);
}

}  // namespace varnis
