// resource-probe FILE: prints what Windows reads from a program's resources,
// as Explorer's "Details" and icon do: the version resource's strings and
// fixed version, and each icon group's id and image sizes. scripts/test-windows
// builds it and runs it under Wine; it is shipped nowhere.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct ModuleFreer {
    void operator()(HMODULE hModule) const { FreeLibrary(hModule); }
};
using ModulePtr = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

bool PrintVersion(const wchar_t* pszFile)
{
    DWORD dwIgnored = 0;
    const DWORD dwSize = GetFileVersionInfoSizeW(pszFile, &dwIgnored);
    if (dwSize == 0)
        return false;
    std::vector<unsigned char> info(dwSize);
    if (!GetFileVersionInfoW(pszFile, 0, dwSize, info.data()))
        return false;
    const wchar_t* const names[] = {L"ProductName",    L"FileDescription",  L"FileVersion", L"ProductVersion",
                                    L"LegalCopyright", L"OriginalFilename", L"CompanyName"};
    for (const wchar_t* pszName : names) {
        wchar_t szPath[80];
        swprintf(szPath, 80, L"\\StringFileInfo\\040904B0\\%ls", pszName);
        void* pValue = nullptr;
        UINT nLength = 0;
        const bool bFound = VerQueryValueW(info.data(), szPath, &pValue, &nLength) && nLength > 0;
        std::printf("%ls: %ls\n", pszName, bFound ? static_cast<const wchar_t*>(pValue) : L"(none)");
    }
    void* pFixed = nullptr;
    UINT nLength = 0;
    if (!VerQueryValueW(info.data(), L"\\", &pFixed, &nLength) || nLength < sizeof(VS_FIXEDFILEINFO))
        return false;
    const auto* const pInfo = static_cast<const VS_FIXEDFILEINFO*>(pFixed);
    std::printf("fixed: %u.%u.%u.%u\n", HIWORD(pInfo->dwFileVersionMS), LOWORD(pInfo->dwFileVersionMS),
                HIWORD(pInfo->dwFileVersionLS), LOWORD(pInfo->dwFileVersionLS));
    return true;
}

// One icon group: its header, then 14 bytes an image (width at 0, 0 meaning 256).
BOOL CALLBACK OnIconGroup(HMODULE hModule, LPCWSTR pszType, LPWSTR pszName, LONG_PTR)
{
    const HRSRC hInfo = FindResourceW(hModule, pszName, pszType);
    const HGLOBAL hData = hInfo != nullptr ? LoadResource(hModule, hInfo) : nullptr;
    const auto* const pBytes = static_cast<const unsigned char*>(hData != nullptr ? LockResource(hData) : nullptr);
    const DWORD dwSize = hInfo != nullptr ? SizeofResource(hModule, hInfo) : 0;
    if (pBytes == nullptr || dwSize < 6)
        return TRUE;
    if (IS_INTRESOURCE(pszName))
        std::printf("icon %u:", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(pszName)));
    else
        std::printf("icon %ls:", pszName);
    const unsigned nCount = pBytes[4] | (pBytes[5] << 8);
    for (unsigned n = 0; n < nCount && 6 + 14 * (n + 1) <= dwSize; ++n) {
        const unsigned nWidth = pBytes[6 + 14 * n];
        std::printf(" %u", nWidth == 0 ? 256 : nWidth);
    }
    std::printf("\n");
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource-probe FILE\n");
        return 2;
    }
    if (!PrintVersion(argv[1]))
        std::printf("version: (none)\n");
    const ModulePtr module(LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        std::fprintf(stderr, "resource-probe: cannot load %ls (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    EnumResourceNamesW(module.get(), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, OnIconGroup, 0);
    return 0;
}
