// Text composition for traces and error reports.
#pragma once

#include <string>

namespace varnis {

// printf-style composition into a string of the needed length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's own text for one of its error codes (errno on POSIX, the
// last-error code on Windows), in UTF-8, with the line end the system gives
// it (Windows ends its texts with one, POSIX does not); thread-safe.
std::string SystemErrorText(int nError);

// `text` without its trailing line ends and blanks, for a line of its own.
std::string WithoutLineEnd(std::string text);

}  // namespace varnis
