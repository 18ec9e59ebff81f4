// varnis-cli's command line, fed from the input: words separated by '\0'.
// Beyond not crashing: a refusal is one line, and what it says does not
// depend on the key's or the password's digits, so a refused secret is
// never repeated; an accepted one comes out as its digits.
#include "apps/cli/CliOptions.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Require(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

// Each hex digit but 0 moved to another (a digit stays a digit, a letter a
// letter of the same case); 0 stays, so a 0x prefix stays one.
char Shifted(char c)
{
    if (c >= '1' && c <= '8')
        return static_cast<char>(c + 1);
    if (c == '9')
        return '1';
    if ((c >= 'a' && c <= 'e') || (c >= 'A' && c <= 'E'))
        return static_cast<char>(c + 1);
    if (c == 'f' || c == 'F')
        return static_cast<char>(c - 5);
    return c;
}

std::string ShiftedText(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = Shifted(c);
    return out;
}

bool IsSecretOption(std::string_view word)
{
    return word == "--key" || word == "--password";
}

// The words with every key and password value shifted, found as the parser
// finds them: NAME=VALUE, or NAME and the next word when it is no option.
std::vector<std::string> WithSecretsShifted(const std::vector<std::string>& words)
{
    std::vector<std::string> out(words);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--")
            break;
        const std::size_t nEq = word.find('=');
        if (word.starts_with("--") && nEq != std::string::npos && IsSecretOption(std::string_view(word).substr(0, nEq)))
            out[i] = word.substr(0, nEq + 1) + ShiftedText(std::string_view(word).substr(nEq + 1));
        else if (IsSecretOption(word) && i + 1 < words.size() && !words[i + 1].starts_with("--"))
            out[i + 1] = ShiftedText(words[i + 1]);
    }
    return out;
}

bool Parse(const std::vector<std::string>& words, varnis::cli::CliOptions& options, std::string& strError)
{
    const std::vector<std::string_view> args(words.begin(), words.end());
    return varnis::cli::ParseCommandLine(args, options, strError);
}

bool DigitsFollow(const std::optional<std::string>& before, const std::optional<std::string>& after)
{
    return before.has_value() == after.has_value() && (!before || ShiftedText(*before) == *after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    if (nSize > 4096)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(pData), nSize);
    std::vector<std::string> words;
    for (std::size_t nAt = 0; nAt <= input.size() && words.size() < 64;) {
        const std::size_t nEnd = std::min(input.find('\0', nAt), input.size());
        words.emplace_back(input.substr(nAt, nEnd - nAt));
        nAt = nEnd + 1;
    }

    varnis::cli::CliOptions options;
    std::string strError;
    const bool bParsed = Parse(words, options, strError);
    Require(bParsed || (!strError.empty() && strError.find('\n') == std::string::npos));

    varnis::cli::CliOptions shifted;
    std::string strShiftedError;
    const bool bShiftedParsed = Parse(WithSecretsShifted(words), shifted, strShiftedError);
    Require(bShiftedParsed == bParsed);
    if (!bParsed) {
        Require(strShiftedError == strError);
        return 0;
    }
    Require(DigitsFollow(options.m_form.m_strKey, shifted.m_form.m_strKey));
    Require(DigitsFollow(options.m_form.m_strPassword, shifted.m_form.m_strPassword));
    Require(!options.m_form.m_strKey || options.m_form.m_strKey->size() == 12);
    Require(!options.m_form.m_strPassword || options.m_form.m_strPassword->size() == 8);
    return 0;
}
