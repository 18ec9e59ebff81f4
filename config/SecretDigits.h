// The key and the password as people write them: hexadecimal bytes in any
// common spelling, and the rule each follows, told without repeating a value
// (what a user typed as a secret must not end up in a log).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnis {

inline constexpr std::string_view kKeyRule =
    "a key is 12 hexadecimal digits, least significant byte first, such as A5C30F7E9B12 or A5:C3:0F:7E:9B:12";
inline constexpr std::string_view kPasswordRule = "a password is 8 hexadecimal digits, such as 47150263 or 47 15 02 63";

// `nBytes` bytes in hexadecimal as documents write them: digit pairs, with
// one blank (or a run of blanks), colon or dash between pairs, and a 0x
// before them all. Gives the digits alone, as typed. Refused: false, and
// `strWhy` says what is wrong by length or position only ("11 hexadecimal
// digits", "character 5 is not a hexadecimal digit").
bool ParseSecretDigits(std::string_view text, std::size_t nBytes, std::string& strDigits, std::string& strWhy);

}  // namespace varnis
