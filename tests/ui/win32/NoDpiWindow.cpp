// varnis.exe as it runs on a Windows without the per-monitor DPI calls (before
// Windows 10 1607): the same window, its icons at the system's DPI. Run by
// the window tier; shipped nowhere.
#include "ui/win32/VarnisDlg.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return varnis::RunVarnisApp(varnis::DpiCalls{});
}
