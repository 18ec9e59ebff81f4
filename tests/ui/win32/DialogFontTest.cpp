#include "ui/win32/DialogFont.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnis {
namespace {

// At 9 pt on 96 DPI the font is 12 pixels high: the song face draws the 95
// ASCII letters in 570 pixels.
TEST(DialogFont, TheStandInHasTheChineseGlyphsAndTheSongFacesLatinWidths)
{
    ASSERT_EQ(SongLatinWidth(12), 570);
    ASSERT_EQ(SongLatinWidth(18), 855);  // 144 DPI
    ASSERT_EQ(SongLatinWidth(13), 665);  // the help window's 10 pt
    const FaceFacts tahoma{L"Tahoma", false, 560};
    const FaceFacts mono{L"Noto Sans Mono CJK SC", true, 570};
    const FaceFacts sans{L"Noto Sans CJK SC", true, 610};
    const FaceFacts wide{L"Wide CJK", true, 650};  // more than an eighth off
    const struct {
        std::vector<FaceFacts> faces;
        int nChosen;
    } cases[] = {
        {{tahoma, sans, mono}, 2},  // nearest width of those with the glyphs
        {{sans, tahoma}, 0},
        {{tahoma, wide}, -1},  // none: the system's message font
        {{tahoma}, -1},
        {{}, -1},
        {{FaceFacts{L"Unmeasured", true, 0}}, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseStandIn(c.faces, 12), c.nChosen) << c.faces.size();
    EXPECT_EQ(ChooseStandIn(std::vector<FaceFacts>{sans, FaceFacts{L"Mono", true, 855}}, 18), 1);
}

}  // namespace
}  // namespace varnis
