// Texts of the command line as messages show them, character by character
// as the form's edit fields count them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnis::cli {

// The number of characters in a UTF-8 text (what an edit field counts).
std::size_t CharacterCount(std::string_view text);

// A text fit to be shown in a one-line message: control characters and bytes
// that are no UTF-8 are escaped (\n, \t, \xNN), and a text longer than
// `nMaxCharacters` is cut and ends in "...".
std::string Printable(std::string_view text, std::size_t nMaxCharacters = 40);

// Lower case with every run of blanks made one space and the ends trimmed:
// how the command line compares the words a user types.
std::string Normalised(std::string_view text);

}  // namespace varnis::cli
