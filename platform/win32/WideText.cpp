#include "platform/win32/WideText.h"

#include <windows.h>

namespace varnis {

std::wstring WideFromUtf8(std::string_view text)
{
    if (text.empty())
        return {};
    const int nLength = static_cast<int>(text.size());
    const int nWide = MultiByteToWideChar(CP_UTF8, 0, text.data(), nLength, nullptr, 0);
    std::wstring wide(static_cast<size_t>(nWide > 0 ? nWide : 0), L'\0');
    if (nWide > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), nLength, wide.data(), nWide);
    return wide;
}

std::string Utf8FromWide(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int nLength = static_cast<int>(text.size());
    const int nBytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), nLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(nBytes > 0 ? nBytes : 0), '\0');
    if (nBytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), nLength, utf8.data(), nBytes, nullptr, nullptr);
    return utf8;
}

}  // namespace varnis
