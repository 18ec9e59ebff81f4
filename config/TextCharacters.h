// The characters of a typed text. Edit-field texts arrive as UTF-8; they are
// counted and checked character by character, not byte by byte.
#pragma once

#include <cstddef>
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

}  // namespace varnis
