// The terminal the program runs in, where a port's name may point at it.
#pragma once

#include <string>

namespace varnis::console {

// Whether `path` is the terminal this program runs in: its controlling
// terminal (/dev/tty, when it has one) or the terminal of a standard stream.
// Used as a port, the user's own terminal would be reconfigured and written to.
bool IsOwnTerminal(const std::string& path);

// Whether `path` names the controlling terminal (/dev/tty) of a program that
// has none, so that opening it fails as if no device were there.
bool NamesAbsentControllingTerminal(const std::string& path);

// While it lives, the console shows what the program writes as UTF-8, the
// encoding of all its texts. On Windows that is the console's output code
// page, which belongs to the console window and outlives the program: the
// page it had is given back when this ends, and on Ctrl+C, Ctrl+Break, the
// console window closing, log-off and shut-down before the program ends.
// Elsewhere nothing needs doing.
class Utf8Console {
public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;
};

}  // namespace varnis::console
