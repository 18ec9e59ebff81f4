// What the Windows search tries, read from a key laid out as the system's
// list of serial ports (SERIALCOMM: the device as the value's name, the port
// as its data), and the system's error texts under a code page of two-byte
// characters.
#include "serial/Text.h"
#include "serial/win32/Win32SerialComm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

namespace varnis::test {
namespace {

// A volatile key of this test's own under HKCU, gone with the test.
class ListKey {
public:
    ListKey()
    {
        m_strPath = L"Software\\VarnisTest" + std::to_wstring(GetCurrentProcessId());
        RegCreateKeyExW(HKEY_CURRENT_USER, m_strPath.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &m_hKey, nullptr);
    }
    ~ListKey()
    {
        if (m_hKey != nullptr) {
            RegCloseKey(m_hKey);
            RegDeleteKeyW(HKEY_CURRENT_USER, m_strPath.c_str());
        }
    }
    ListKey(const ListKey&) = delete;
    ListKey& operator=(const ListKey&) = delete;

    HKEY Key() const { return m_hKey; }
    bool Add(const std::wstring& device, const std::wstring& port)
    {
        return RegSetValueExW(m_hKey, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                              static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

private:
    std::wstring m_strPath;
    HKEY m_hKey = nullptr;
};

// Every number from 1 to 10 is tried, listed or not, but the one the list
// names as a Bluetooth modem; a port above COM10 changes nothing.
TEST(Win32PortList, TheSearchTriesEveryNumberButABluetoothModem)
{
    ListKey key;
    ASSERT_NE(key.Key(), nullptr);
    for (const auto& [device, port] : {std::pair{L"\\Device\\Serial0", L"COM1"},
                                       {L"\\Device\\BthModem0", L"COM3"},
                                       {L"\\Device\\BthModem1", L"COM12"},
                                       {L"\\Device\\Serial1", L"COM4"}}) {
        ASSERT_TRUE(key.Add(device, port));
    }
    const PortTable table = win32::SearchTable(win32::SerialPortsOfKey(key.Key()));
    for (unsigned n = 1; n <= PortTable::kPortCount; ++n) {
        EXPECT_EQ(table.PathOf(n), n == 3 ? std::string() : "\\\\.\\COM" + std::to_string(n)) << "COM" << n;
    }
    EXPECT_EQ(win32::SearchTable({}).PathOf(3), "\\\\.\\COM3");
}

// The system's text comes in UTF-8 with its own line end, whatever the ANSI
// code page. Run once as it comes, and once by CTest under code page 936
// (VARNIS_TEST_CODE_PAGE), where the text is Chinese.
TEST(Win32ErrorTextTest, IsUtf8WithItsLineEnd)
{
    const char* pszCodePage = std::getenv("VARNIS_TEST_CODE_PAGE");
    if (pszCodePage != nullptr) {
        ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(pszCodePage))) << "the locale did not give the code page";
    }
    const std::string text = SystemErrorText(ERROR_ACCESS_DENIED);
    ASSERT_GE(text.size(), 2U);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const int nWide =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    EXPECT_GT(nWide, 0) << text;
    if (pszCodePage != nullptr) {
        EXPECT_LT(nWide, static_cast<int>(text.size())) << "no character beyond ASCII: " << text;
    }
}

}  // namespace
}  // namespace varnis::test
