// Text composition for traces and error reports.
#pragma once

#include <string>

namespace varnis {

// printf-style composition into a string of the needed length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's own text for one of its error codes (errno on POSIX, the
// last-error code on Windows); thread-safe.
std::string SystemErrorText(int nError);

}  // namespace varnis
