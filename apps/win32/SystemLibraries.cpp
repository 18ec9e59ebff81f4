// The DLL search of the Windows programs (see docs/windows-dlls.md): the
// loader resolves only KnownDLLs before main; every other system DLL is
// delay-loaded, and the hook below loads it by its full path in System32.
#include "apps/SystemLibraries.h"

#include <windows.h>

#include <delayimp.h>

#include <array>
#include <cctype>
#include <string>
#include <string_view>

namespace varnis {
namespace {

bool IsNamed(std::string_view dll, std::string_view name)
{
    if (dll.size() != name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < dll.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(dll[i])) != name[i]) {
            return false;
        }
    }
    return true;
}

// comctl32 is loaded by name: the manifest asks for version 6, which the
// system's side-by-side redirection gives from WinSxS by its own full path;
// anything else it would look for is looked for in System32 only.
HMODULE LoadFromSystem(const char* pszDll)
{
    if (IsNamed(pszDll, "comctl32.dll")) {
        return LoadLibraryExA(pszDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    std::array<wchar_t, MAX_PATH> directory{};
    const UINT nLength = GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
    if (nLength == 0 || nLength >= directory.size()) {
        return nullptr;
    }
    std::wstring path(directory.data(), nLength);
    path += L'\\';
    for (const char* p = pszDll; *p != '\0'; ++p) {
        path += static_cast<wchar_t>(static_cast<unsigned char>(*p));  // DLL names are ASCII
    }
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC WINAPI OnDelayLoad(unsigned nNotify, PDelayLoadInfo pInfo)
{
    if (nNotify != dliNotePreLoadLibrary || pInfo == nullptr || pInfo->szDll == nullptr) {
        return nullptr;  // the helper goes on as it would
    }
    return reinterpret_cast<FARPROC>(LoadFromSystem(pInfo->szDll));
}

// Installed before main runs; no delay-loaded DLL is called before main.
const struct HookInstaller {
    HookInstaller() { __pfnDliNotifyHook2 = OnDelayLoad; }
} g_hookInstaller;

}  // namespace

void RestrictDllSearch()
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace varnis
