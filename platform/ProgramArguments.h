// The program's arguments as UTF-8, the encoding of every text inside it.
#pragma once

#include <string>
#include <vector>

namespace varnis::console {

// The words after the program's name, in UTF-8, taken once where the program
// starts. On Windows they are read from the wide command line, so that a
// character outside the ANSI code page (a full-width colon, "é" under code
// page 936) reaches the options as typed, and `argv` (null in a program that
// has none, a window's) serves only when the wide line cannot be split;
// elsewhere they are `argv` as given.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace varnis::console
