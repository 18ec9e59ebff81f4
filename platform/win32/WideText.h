// UTF-8 (the program's texts) to UTF-16 (the system's W calls) and back, once for every Windows part.
#pragma once

#include <string>
#include <string_view>

namespace varnis {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace varnis
