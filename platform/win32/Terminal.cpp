// On Windows a COM port is never the console the program runs in, and there
// is no controlling terminal to name.
#include "platform/Terminal.h"

#include <windows.h>

#include <atomic>

namespace varnis::console {

namespace {

// The output code page the console had; 0 while this program has not changed it.
std::atomic<UINT> g_nSavedOutputCp{0};

void RestoreOutputCp()
{
    if (const UINT nCp = g_nSavedOutputCp.exchange(0); nCp != 0)
        SetConsoleOutputCP(nCp);
}

// Runs on a thread of its own. The console gets its page back; the system's
// own handling then ends the program, and the system closes every handle it
// held, the port among them.
BOOL WINAPI OnConsoleControl(DWORD)
{
    RestoreOutputCp();
    return FALSE;
}

}  // namespace

bool IsOwnTerminal(const std::string&)
{
    return false;
}

bool NamesAbsentControllingTerminal(const std::string&)
{
    return false;
}

Utf8Console::Utf8Console()
{
    const UINT nCp = GetConsoleOutputCP();
    if (nCp == 0 || nCp == CP_UTF8)
        return;  // no console, or nothing to change
    g_nSavedOutputCp = nCp;
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    if (!SetConsoleOutputCP(CP_UTF8))
        g_nSavedOutputCp = 0;
}

Utf8Console::~Utf8Console()
{
    RestoreOutputCp();
    SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
}

}  // namespace varnis::console
