/* A DLL that leaves a mark where it was loaded from: "NAME.dll.ran" beside
 * itself, the moment any process loads it. The Windows tier copies it next
 * to the programs under the names of system DLLs. Built without the C
 * runtime (its only import is KERNEL32), so that it loads under any name. */
#include <windows.h>

BOOL WINAPI MarkerEntry(HINSTANCE hModule, DWORD nReason, LPVOID pReserved)
{
    (void)pReserved;
    if (nReason == DLL_PROCESS_ATTACH) {
        WCHAR path[MAX_PATH + 8];
        const DWORD nLength = GetModuleFileNameW(hModule, path, MAX_PATH);
        if (nLength > 0 && nLength < MAX_PATH) {
            lstrcatW(path, L".ran");
            HANDLE hMark = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (hMark != INVALID_HANDLE_VALUE) {
                CloseHandle(hMark);
            }
        }
    }
    return TRUE;
}
