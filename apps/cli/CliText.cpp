#include "apps/cli/CliText.h"

#include "config/TextCharacters.h"

#include <cctype>

namespace varnis::cli {
namespace {

void AppendEscapedByte(std::string& out, unsigned char c)
{
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    out += "\\x";
    out.push_back(kHex[c >> 4U]);
    out.push_back(kHex[c & 0x0FU]);
}

// Characters that would move the cursor or break the line: the C0 and C1
// controls, DEL and the two Unicode line and paragraph separators.
bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

}  // namespace

std::size_t CharacterCount(std::string_view text)
{
    return TextCharacters(text).size();
}

std::string Printable(std::string_view text, std::size_t nMaxCharacters)
{
    std::string out;
    std::size_t nCharacters = 0;
    for (const TextCharacter& c : SplitCharacters(text)) {
        if (nCharacters == nMaxCharacters) {
            out += "...";
            break;
        }
        ++nCharacters;
        const std::string_view bytes = text.substr(c.m_nOffset, c.m_nLength);
        if (c.m_cCode == '\n') {
            out += "\\n";
        } else if (c.m_cCode == '\t') {
            out += "\\t";
        } else if (c.m_cCode == '\r') {
            out += "\\r";
        } else if (!c.IsWellFormed() || IsControl(c.m_cCode)) {
            for (const char b : bytes) {
                AppendEscapedByte(out, static_cast<unsigned char>(b));
            }
        } else {
            out.append(bytes);
        }
    }
    return out;
}

std::string Normalised(std::string_view text)
{
    std::string out;
    bool bBlank = false;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            bBlank = !out.empty();
            continue;
        }
        if (bBlank) {
            out.push_back(' ');
            bBlank = false;
        }
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

}  // namespace varnis::cli
