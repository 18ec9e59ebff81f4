// What the operating system waits on, as the portable code holds it: a file
// descriptor on POSIX systems, an event HANDLE on Windows. Only the files of
// one system's backend look inside it.
#pragma once

#include <cstdint>

namespace varnis {

using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoNativeHandle = -1;

}  // namespace varnis
