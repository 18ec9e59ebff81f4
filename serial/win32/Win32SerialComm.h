// The serial ports Windows has, as its serial drivers list them in the
// registry (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: the device as the value's
// name, the port's name as its data).
#pragma once

#include "serial/PortTable.h"

#include <windows.h>

#include <string>
#include <vector>

namespace varnis::win32 {

struct SystemPort {
    std::string m_strName;    // "COM3"
    std::string m_strDevice;  // "\Device\Serial0"
    unsigned m_nNumber = 0;   // 3; 0 when the name is not COMn
};

// In the order of their numbers (names that are not COMn last); empty when
// the system lists none.
std::vector<SystemPort> SystemSerialPorts();
// The same read from `hKey`, a key laid out as SERIALCOMM is.
std::vector<SystemPort> SerialPortsOfKey(HKEY hKey);

// An outgoing Bluetooth serial port (\Device\BthModem*): opening it calls
// the far device, which takes seconds, so the search never tries it.
bool IsBluetoothModem(const SystemPort& port);

// What the search tries: COM1 to COM10, listed or not (some virtual-port and
// Bluetooth drivers leave their ports out of the list), but a port the list
// names as a Bluetooth modem.
PortTable SearchTable(const std::vector<SystemPort>& listed);

}  // namespace varnis::win32
