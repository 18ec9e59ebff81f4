// The terminal the program runs in, where a port's name may point at it.
#pragma once

#include <string>

namespace varnis::cli {

// Whether `path` is the terminal this program runs in: its controlling
// terminal (/dev/tty, when it has one) or the terminal of a standard stream.
// Used as a port, the user's own terminal would be reconfigured and written to.
bool IsOwnTerminal(const std::string& path);

// Whether `path` names the controlling terminal (/dev/tty) of a program that
// has none, so that opening it fails as if no device were there.
bool NamesAbsentControllingTerminal(const std::string& path);

// The console shows what the program writes as UTF-8, the encoding of all
// its texts (on Windows the console's code page is set; elsewhere nothing
// needs doing).
void UseUtf8Console();

}  // namespace varnis::cli
