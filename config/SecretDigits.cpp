#include "config/SecretDigits.h"

#include "config/TextCharacters.h"

#include <cctype>

namespace varnis {

namespace {

bool IsBlank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The position of byte `nIndex` of `text` as a user counts it: characters
// from 1, a UTF-8 sequence counting once.
std::size_t CharacterPosition(std::string_view text, std::size_t nIndex)
{
    return CharacterCount(text.substr(0, nIndex)) + 1;
}

std::string NotADigit(std::string_view text, std::size_t nIndex)
{
    return "character " + std::to_string(CharacterPosition(text, nIndex)) + " is not a hexadecimal digit";
}

}  // namespace

bool ParseSecretDigits(std::string_view text, std::size_t nBytes, std::string& strDigits, std::string& strWhy)
{
    std::size_t nBegin = 0;
    std::size_t nEnd = text.size();
    while (nBegin < nEnd && IsBlank(text[nBegin])) {
        ++nBegin;
    }
    while (nEnd > nBegin && IsBlank(text[nEnd - 1])) {
        --nEnd;
    }
    if (nBegin == nEnd) {
        strWhy = "no hexadecimal digits";
        return false;
    }
    if (nEnd - nBegin >= 2 && text[nBegin] == '0' && (text[nBegin + 1] == 'x' || text[nBegin + 1] == 'X')) {
        nBegin += 2;
    }
    std::string digits;
    std::size_t nRun = 0;  // digits since the last separator
    for (std::size_t i = nBegin; i < nEnd; ++i) {
        const char c = text[i];
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            digits.push_back(c);
            ++nRun;
            continue;
        }
        if (c != ':' && c != '-' && !IsBlank(c)) {
            strWhy = NotADigit(text, i);
            return false;
        }
        if (nRun == 0 || nRun % 2 != 0) {  // a separator stands only between whole byte pairs
            strWhy = "the separator at character " + std::to_string(CharacterPosition(text, i)) +
                     " does not stand between two byte pairs";
            return false;
        }
        while (IsBlank(c) && i + 1 < nEnd && IsBlank(text[i + 1])) {
            ++i;
        }
        nRun = 0;
    }
    if (nRun == 0 && !digits.empty()) {
        strWhy = "the value ends in a separator";
        return false;
    }
    if (digits.size() != nBytes * 2) {
        strWhy = std::to_string(digits.size()) + " hexadecimal digit" + (digits.size() == 1 ? "" : "s");
        return false;
    }
    strDigits = std::move(digits);
    return true;
}

}  // namespace varnis
