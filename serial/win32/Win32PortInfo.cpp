// What Windows tells about a port: the ports its serial drivers list
// (SERIALCOMM), and for each the device behind it as SetupAPI knows it (the
// Ports device class): its friendly name, the driver's service, and for a
// USB adapter the vendor and product id and the serial number, read from the
// device's instance id or its parent's (USB\VID_0403&PID_6001\A9XK2L1).
#include "serial/PortInfo.h"

#include "platform/win32/WideText.h"
#include "serial/win32/Win32SerialComm.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <utility>

namespace varnis {

namespace {

std::string Property(HDEVINFO hSet, SP_DEVINFO_DATA& device, DWORD dwProperty)
{
    std::array<wchar_t, 512> value{};
    DWORD dwType = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(hSet, &device, dwProperty, &dwType, reinterpret_cast<BYTE*>(value.data()),
                                           static_cast<DWORD>(value.size() * sizeof(wchar_t) - sizeof(wchar_t)),
                                           nullptr) ||
        dwType != REG_SZ) {
        return {};
    }
    return Utf8FromWide(value.data());
}

// The port's name as its device's key keeps it ("COM3").
std::string PortNameOf(HDEVINFO hSet, SP_DEVINFO_DATA& device)
{
    HKEY hKey = SetupDiOpenDevRegKey(hSet, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (hKey == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::array<wchar_t, 64> name{};
    DWORD dwSize = static_cast<DWORD>(name.size() * sizeof(wchar_t) - sizeof(wchar_t));
    DWORD dwType = 0;
    const bool bRead = RegQueryValueExW(hKey, L"PortName", nullptr, &dwType, reinterpret_cast<BYTE*>(name.data()),
                                        &dwSize) == ERROR_SUCCESS &&
                       dwType == REG_SZ;
    RegCloseKey(hKey);
    return bRead ? Utf8FromWide(name.data()) : std::string();
}

std::string InstanceId(DEVINST hDevice)
{
    std::array<wchar_t, MAX_DEVICE_ID_LEN + 1> id{};
    return CM_Get_Device_IDW(hDevice, id.data(), MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? Utf8FromWide(id.data())
                                                                                     : std::string();
}

// "USB\VID_0403&PID_6001\A9XK2L1": the ids, and the last part as the serial
// number unless Windows made it up (it then holds '&').
void ReadUsbIdentity(const std::string& id, PortDevice& device)
{
    const std::size_t nVid = id.find("VID_");
    const std::size_t nPid = id.find("PID_");
    if (id.rfind("USB\\", 0) != 0 || nVid == std::string::npos || nPid == std::string::npos) {
        return;
    }
    device.m_bUsb = true;
    device.m_strVendorId = id.substr(nVid + 4, 4);
    device.m_strProductId = id.substr(nPid + 4, 4);
    std::transform(device.m_strVendorId.begin(), device.m_strVendorId.end(), device.m_strVendorId.begin(), ::tolower);
    std::transform(device.m_strProductId.begin(), device.m_strProductId.end(), device.m_strProductId.begin(),
                   ::tolower);
    const std::string last = id.substr(id.rfind('\\') + 1);
    device.m_strSerialNumber = last.find('&') == std::string::npos ? last : std::string();
}

// The port's name from its path: \\.\COM3 is COM3.
std::string NameOfPath(const std::string& path)
{
    return path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
}

}  // namespace

PortDevice PortInfo::ReadDevice(const std::string& path, const PortInfoRoots&)
{
    PortDevice facts;
    const std::string name = NameOfPath(path);
    HDEVINFO hSet = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (hSet == INVALID_HANDLE_VALUE) {
        return facts;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD dwIndex = 0; SetupDiEnumDeviceInfo(hSet, dwIndex, &device); ++dwIndex) {
        if (_stricmp(PortNameOf(hSet, device).c_str(), name.c_str()) != 0) {
            continue;
        }
        facts.m_strName = Property(hSet, device, SPDRP_FRIENDLYNAME);
        facts.m_strDriver = Property(hSet, device, SPDRP_SERVICE);
        facts.m_strManufacturer = Property(hSet, device, SPDRP_MFG);
        facts.m_strProduct = Property(hSet, device, SPDRP_DEVICEDESC);
        ReadUsbIdentity(InstanceId(device.DevInst), facts);
        DEVINST hParent = 0;
        if (!facts.m_bUsb && CM_Get_Parent(&hParent, device.DevInst, 0) == CR_SUCCESS) {
            ReadUsbIdentity(InstanceId(hParent), facts);  // an adapter's own bus driver in between
        }
        break;
    }
    SetupDiDestroyDeviceInfoList(hSet);
    return facts;
}

// Windows has no lock files: a port is held by the one who opened it.
std::string PortInfo::PassedOverLockFile() const
{
    return {};
}

std::vector<AvailablePort> PortInfo::AvailablePorts(const PortTable& table)
{
    std::vector<AvailablePort> ports;
    for (unsigned n = 1; n <= PortTable::kPortCount; ++n) {
        ports.push_back({"COM" + std::to_string(n), table.PathOf(n), SearchSkip::None});
    }
    const std::vector<win32::SystemPort> listed = win32::SystemSerialPorts();
    // The search tries every number; a port the system does not list is
    // shown only where a serial line is there (it opens, or another program
    // holds it).
    for (unsigned n = 1; n <= PortTable::kPortCount; ++n) {
        std::string& path = ports[n - 1].m_strPath;
        const bool bListed = std::any_of(listed.begin(), listed.end(),
                                         [n](const win32::SystemPort& system) { return system.m_nNumber == n; });
        const auto eProblem = bListed || path.empty() ? PortProblem::None : DiagnosePort(path, {}).m_eProblem;
        if (eProblem != PortProblem::None && eProblem != PortProblem::InUse) {
            path.clear();
        }
    }
    for (const win32::SystemPort& port : listed) {
        const bool bInTable = port.m_nNumber >= 1 && port.m_nNumber <= PortTable::kPortCount;
        const bool bBluetooth = win32::IsBluetoothModem(port);
        if (bInTable && !bBluetooth) {
            continue;  // listed as the search sees it
        }
        AvailablePort entry{port.m_strName, "\\\\.\\" + port.m_strName,
                            bBluetooth ? SearchSkip::BluetoothModem : SearchSkipOf(port.m_strName)};
        if (bInTable) {
            ports[port.m_nNumber - 1] = std::move(entry);
        } else {
            ports.push_back(std::move(entry));
        }
    }
    return ports;
}

// The search tries COM1 to COM10; every other name is beyond it.
SearchSkip PortInfo::SearchSkipOf(const std::string& name)
{
    const bool bCom = name.size() > 3 && name.rfind("COM", 0) == 0 &&
                      std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    return bCom && std::stoul(name.substr(3)) <= PortTable::kPortCount ? SearchSkip::None : SearchSkip::BeyondTable;
}

}  // namespace varnis
