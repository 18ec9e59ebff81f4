// console-code-page REPORT CP [--break-after MS] PROGRAM ARGS...: runs
// PROGRAM in the console this program was started in (under Wine: one on a
// pseudo-terminal), whose output code page is first set to CP, as a user's
// console window with an older program's page would be, and writes to the
// file REPORT
//   code page CP before, N after, exit status S
// With --break-after, the program gets Ctrl+Break after MS milliseconds (it
// runs in a process group of its own). scripts/test-windows builds it and
// runs it under Wine; it is shipped nowhere.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring Quoted(const wchar_t* pszWord)
{
    std::wstring quoted = L"\"";
    for (const wchar_t* p = pszWord; *p != 0; ++p) {
        if (*p == L'"')
            quoted += L'\\';
        quoted += *p;
    }
    return quoted + L"\"";
}

// The console's page before and after one run of the program of `argv`.
int Run(FILE* pReport, int argc, wchar_t** argv)
{
    const UINT nPage = static_cast<UINT>(std::wcstoul(argv[0], nullptr, 10));
    int nFirst = 1;
    DWORD dwBreakAfter = 0;
    if (std::wcscmp(argv[1], L"--break-after") == 0 && argc > 3) {
        dwBreakAfter = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
        nFirst = 3;
    }
    if (!SetConsoleOutputCP(nPage)) {
        std::fprintf(pReport, "code page %u cannot be set (error %lu)\n", nPage, GetLastError());
        return 2;
    }
    std::wstring command;
    for (int n = nFirst; n < argc; ++n)
        command += (n > nFirst ? L" " : L"") + Quoted(argv[n]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const DWORD dwFlags = 0;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, dwFlags, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(pReport, "cannot start the program, error %lu\n", GetLastError());
        return 2;
    }
    if (dwBreakAfter != 0 && WaitForSingleObject(process.hProcess, dwBreakAfter) == WAIT_TIMEOUT) {
        // Ctrl+C to every process of the console, this one ignoring it.
        SetConsoleCtrlHandler(nullptr, TRUE);
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
            std::fprintf(pReport, "no Ctrl+C: error %lu\n", GetLastError());
    }
    DWORD dwStatus = 0;
    const bool bEnded = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
    if (!bEnded)
        TerminateProcess(process.hProcess, 1);
    GetExitCodeProcess(process.hProcess, &dwStatus);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!bEnded) {
        std::fprintf(pReport, "the program did not end within 30 s\n");
        return 2;
    }
    std::fprintf(pReport, "code page %u before, %u after, exit status %lu\n", nPage, GetConsoleOutputCP(), dwStatus);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return 2;
    FILE* pReport = _wfopen(argv[1], L"w");
    if (pReport == nullptr)
        return 2;
    const int nStatus = Run(pReport, argc - 2, argv + 2);
    std::fclose(pReport);
    return nStatus;
}
