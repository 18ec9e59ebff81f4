#include "serial/Text.h"

#include <cstdarg>
#include <cstdio>

namespace varnis {

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list argsCopy;
    va_copy(argsCopy, args);
    const int nLength = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (nLength > 0) {
        text.resize(static_cast<std::size_t>(nLength) + 1);
        std::vsnprintf(text.data(), text.size(), format, argsCopy);
        text.resize(static_cast<std::size_t>(nLength));
    }
    va_end(argsCopy);
    return text;
}

std::string WithoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace varnis
