// On Windows a COM port is never the console the program runs in, and there
// is no controlling terminal to name.
#include "apps/cli/Terminal.h"

#include <windows.h>

namespace varnis::cli {

bool IsOwnTerminal(const std::string&)
{
    return false;
}

bool NamesAbsentControllingTerminal(const std::string&)
{
    return false;
}

void UseUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace varnis::cli
