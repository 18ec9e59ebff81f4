// The desktop tool on Windows: the native dialog on the machine's COM ports.
// It takes no option; --help and --version are answered on the console it
// was started from, or in a box when there is none.
#include "apps/varnis/ShownArgument.h"
#include "ui/win32/VarnisDlg.h"
#include "platform/ProgramArguments.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kHelp =
    "Usage: varnis [--help | --version]\r\n"
    "The desktop window that makes configuration cards for the TLR4A7K card reader\r\n"
    "through the card-writing generator device on a serial line. OpenPort searches\r\n"
    "COM1 to COM10 for the device; Make Provin checks the form, sends the\r\n"
    "configuration frame and shows the device's answer. The window takes no other\r\n"
    "option; varnis-cli makes cards without it.\r\n"
    "\r\n"
    "  -h, --help     show this help and exit\r\n"
    "  --version      show the version and exit\r\n"
    "\r\n"
    "Exit status: 0 when the window was closed, 1 when it could not be shown, 2 on\r\n"
    "a bad option.\r\n";

// The handle a text goes to: the one inherited, else the console of the
// program that started this one.
HANDLE OutputHandle(DWORD nStd)
{
    HANDLE hOut = GetStdHandle(nStd);
    if (hOut != nullptr && hOut != INVALID_HANDLE_VALUE)
        return hOut;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return nullptr;
    hOut = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return hOut == INVALID_HANDLE_VALUE ? nullptr : hOut;
}

// Writes `text` where the user sees it: false when it could not be written.
bool Show(std::string_view text, DWORD nStd, UINT nBoxStyle)
{
    if (HANDLE hOut = OutputHandle(nStd)) {
        DWORD nMode = 0;
        DWORD nWritten = 0;
        if (GetConsoleMode(hOut, &nMode)) {
            const std::wstring wide = varnis::WideFromUtf8(text);
            return WriteConsoleW(hOut, wide.data(), static_cast<DWORD>(wide.size()), &nWritten, nullptr) != FALSE;
        }
        return WriteFile(hOut, text.data(), static_cast<DWORD>(text.size()), &nWritten, nullptr) != FALSE &&
               nWritten == text.size();
    }
    MessageBoxW(nullptr, varnis::WideFromUtf8(text).c_str(), L"varnis", MB_OK | nBoxStyle);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);  // see apps/win32/SystemLibraries.cpp
    const std::vector<std::string> args = varnis::console::ProgramArguments(0, nullptr);
    bool bHelp = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            bHelp = true;
        } else if (arg != "--version") {
            Show("varnis: " + std::string(arg.starts_with("-") ? "unknown option" : "unexpected argument") + " '" +
                     varnis::ShownArgument(arg) + "' (the window takes no option; see varnis --help)\r\n",
                 STD_ERROR_HANDLE, MB_ICONERROR);
            return 2;
        }
    }
    if (args.empty())
        return varnis::RunVarnisApp();
    return Show(bHelp ? kHelp : "varnis " VARNIS_VERSION "\r\n", STD_OUTPUT_HANDLE, 0) ? 0 : 1;
}
