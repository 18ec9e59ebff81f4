// An argument the window program refuses, as its message shows it: control
// characters dropped, a long one cut.
#pragma once

#include <string>
#include <string_view>

namespace varnis {

inline std::string ShownArgument(std::string_view arg)
{
    std::string shown;
    for (const char c : arg.substr(0, 60)) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            shown.push_back(c);
    }
    return arg.size() > 60 ? shown + "..." : shown;
}

}  // namespace varnis
