#include "config/TextCharacters.h"

#include <cctype>
#include <cstddef>
#include <cstdint>

namespace varnis {

namespace {

bool IsContinuation(std::uint8_t b, std::uint8_t lo = 0x80, std::uint8_t hi = 0xBF)
{
    return b >= lo && b <= hi;
}

// Length of the well-formed sequence starting at text[pos] and its code point,
// or 0 when the byte there begins none.
std::size_t DecodeOne(std::string_view text, std::size_t pos, char32_t& cp)
{
    const std::size_t nLeft = text.size() - pos;
    auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(text[pos + i]); };
    const std::uint8_t b0 = at(0);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (nLeft < 2 || !IsContinuation(at(1)))
            return 0;
        cp = static_cast<char32_t>(((b0 & 0x1Fu) << 6) | (at(1) & 0x3Fu));
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        // E0 needs A0..BF next (no overlong form), ED needs 80..9F (no surrogate).
        const std::uint8_t lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const std::uint8_t hi = b0 == 0xED ? 0x9F : 0xBF;
        if (nLeft < 3 || !IsContinuation(at(1), lo, hi) || !IsContinuation(at(2)))
            return 0;
        cp = static_cast<char32_t>(((b0 & 0x0Fu) << 12) | ((at(1) & 0x3Fu) << 6) | (at(2) & 0x3Fu));
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        // F0 needs 90..BF next (no overlong form), F4 needs 80..8F (at most U+10FFFF).
        const std::uint8_t lo = b0 == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (nLeft < 4 || !IsContinuation(at(1), lo, hi) || !IsContinuation(at(2)) || !IsContinuation(at(3))) {
            return 0;
        }
        cp = static_cast<char32_t>(((b0 & 0x07u) << 18) | ((at(1) & 0x3Fu) << 12) | ((at(2) & 0x3Fu) << 6) |
                                   (at(3) & 0x3Fu));
        return 4;
    }
    return 0;
}

}  // namespace

std::vector<TextCharacter> SplitCharacters(std::string_view text)
{
    std::vector<TextCharacter> chars;
    chars.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        const std::size_t n = DecodeOne(text, pos, cp);
        if (n == 0) {
            chars.push_back({pos, 1, kInvalidCharacter});
            ++pos;
        } else {
            chars.push_back({pos, n, cp});
            pos += n;
        }
    }
    return chars;
}

std::vector<char32_t> TextCharacters(std::string_view text)
{
    std::vector<char32_t> codes;
    for (const TextCharacter& c : SplitCharacters(text)) {
        codes.push_back(c.m_cCode);
    }
    return codes;
}

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

}  // namespace varnis
