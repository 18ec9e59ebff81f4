#include "serial/LineSettings.h"

#include <cctype>
#include <cstring>
#include <sstream>

namespace varnis {

namespace {

bool ParseInt(const std::string& text, int& nValue)
{
    if (text.empty() || text.size() > 9) {
        return false;
    }
    int nResult = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        nResult = nResult * 10 + (c - '0');
    }
    nValue = nResult;
    return true;
}

std::string Lowered(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

bool BuildLineSettings(const std::string& text, LineSettings& settings)
{
    LineSettings built = settings;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const std::size_t nEquals = word.find('=');
        if (nEquals == std::string::npos) {
            return false;
        }
        const std::string key = Lowered(word.substr(0, nEquals));
        const std::string value = word.substr(nEquals + 1);
        int nValue = 0;
        if (key == "baud") {
            if (!ParseInt(value, nValue) || nValue <= 0) {
                return false;
            }
            built.m_nBaud = nValue;
        } else if (key == "parity") {
            const char cParity =
                value.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(value[0]))) : '?';
            if (std::strchr("NEOMS", cParity) == nullptr || cParity == '\0') {
                return false;
            }
            built.m_cParity = cParity;
        } else if (key == "data") {
            if (!ParseInt(value, nValue) || nValue < 5 || nValue > 8) {
                return false;
            }
            built.m_nDataBits = nValue;
        } else if (key == "stop") {
            if (!ParseInt(value, nValue) || (nValue != 1 && nValue != 2)) {
                return false;
            }
            built.m_nStopBits = nValue;
        } else {
            return false;
        }
    }
    settings = built;
    return true;
}

}  // namespace varnis
