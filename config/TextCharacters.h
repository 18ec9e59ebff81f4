// The characters of a typed text. Edit-field texts arrive as UTF-8; they are
// counted and checked character by character, not byte by byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varnis {

// Stands for a byte that begins no well-formed UTF-8 sequence.
inline constexpr char32_t kInvalidCharacter = 0xFFFD;

// Splits `text` into characters: each well-formed UTF-8 sequence is one
// character (its code point); every other byte is one character of its own,
// given as kInvalidCharacter. Overlong forms, surrogates and values above
// U+10FFFF are not well formed.
std::vector<char32_t> TextCharacters(std::string_view text);

// One character of a text and the bytes it takes there. A byte that begins
// no well-formed sequence is a character of length 1, kInvalidCharacter.
struct TextCharacter {
    std::size_t m_nOffset = 0;
    std::size_t m_nLength = 0;
    char32_t m_cCode = 0;

    bool IsWellFormed() const { return !(m_nLength == 1 && m_cCode == kInvalidCharacter); }
};

// The same split as TextCharacters, with where each character lies.
std::vector<TextCharacter> SplitCharacters(std::string_view text);

// The number of characters in a text (what an edit field counts).
std::size_t CharacterCount(std::string_view text);

// A typed text fit to be shown back in a one-line message: control
// characters and bytes that are no UTF-8 are escaped (\n, \t, \xNN), and a
// text longer than `nMaxCharacters` is cut and ends in "...".
std::string Printable(std::string_view text, std::size_t nMaxCharacters = 40);

// Lower case with every run of blanks made one space and the ends trimmed:
// how typed words are compared.
std::string Normalised(std::string_view text);

}  // namespace varnis
