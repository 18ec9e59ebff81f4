// COM1 to COM10 on Windows: the system's own names, each standing for
// itself and tried by opening it, whether the system lists the port
// (SERIALCOMM) or not. A port the list names as a Bluetooth modem is left out
// of the search. Named by the user, COMn is \\.\COMn, also above COM10.
#include "platform/win32/WideText.h"
#include "serial/PortTable.h"
#include "serial/win32/Win32SerialComm.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <string>

namespace varnis {

namespace win32 {

namespace {

std::string Utf8Of(const wchar_t* pszText, std::size_t nLength)
{
    return Utf8FromWide(std::wstring_view(pszText, nLength));
}

unsigned ComNumber(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 ||
        !std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    return static_cast<unsigned>(std::stoul(name.substr(3)));
}

}  // namespace

std::vector<SystemPort> SystemSerialPorts()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<SystemPort> ports = SerialPortsOfKey(hKey);
    RegCloseKey(hKey);
    return ports;
}

std::vector<SystemPort> SerialPortsOfKey(HKEY hKey)
{
    std::vector<SystemPort> ports;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        std::array<wchar_t, 256> name{};
        std::array<wchar_t, 256> data{};
        DWORD dwName = static_cast<DWORD>(name.size());
        DWORD dwData = static_cast<DWORD>(data.size() * sizeof(wchar_t) - sizeof(wchar_t));
        DWORD dwType = 0;
        const LONG nResult = RegEnumValueW(hKey, dwIndex, name.data(), &dwName, nullptr, &dwType,
                                           reinterpret_cast<BYTE*>(data.data()), &dwData);
        if (nResult == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (nResult != ERROR_SUCCESS || dwType != REG_SZ) {
            continue;  // too long to be a port's name, or not text
        }
        std::size_t nDataLength = dwData / sizeof(wchar_t);
        while (nDataLength > 0 && data[nDataLength - 1] == L'\0') {
            --nDataLength;
        }
        SystemPort port{Utf8Of(data.data(), nDataLength), Utf8Of(name.data(), dwName), 0};
        port.m_nNumber = ComNumber(port.m_strName);
        ports.push_back(std::move(port));
    }
    std::stable_sort(ports.begin(), ports.end(), [](const SystemPort& a, const SystemPort& b) {
        return (a.m_nNumber == 0 ? ~0U : a.m_nNumber) < (b.m_nNumber == 0 ? ~0U : b.m_nNumber);
    });
    return ports;
}

bool IsBluetoothModem(const SystemPort& port)
{
    return port.m_strDevice.rfind("\\Device\\BthModem", 0) == 0;
}

PortTable SearchTable(const std::vector<SystemPort>& listed)
{
    PortTable table;
    for (unsigned n = 1; n <= PortTable::kPortCount; ++n) {
        table.SetPath(n, PortTable::ComPath(n));
    }
    for (const SystemPort& port : listed) {
        if (IsBluetoothModem(port)) {
            table.SetPath(port.m_nNumber, {});  // a number outside 1 to 10 changes nothing
        }
    }
    return table;
}

}  // namespace win32

PortTable PortTable::FromSystem()
{
    return win32::SearchTable(win32::SystemSerialPorts());
}

std::string PortTable::ComPath(unsigned portnr)
{
    return portnr >= 1 ? "\\\\.\\COM" + std::to_string(portnr) : std::string();
}

}  // namespace varnis
