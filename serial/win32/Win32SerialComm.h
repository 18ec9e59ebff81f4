// The serial ports Windows has, as its serial drivers list them in the
// registry (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: the device as the value's
// name, the port's name as its data).
#pragma once

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

// An outgoing Bluetooth serial port (\Device\BthModem*): opening it calls
// the far device, which takes seconds, so the search never tries it.
bool IsBluetoothModem(const SystemPort& port);

}  // namespace varnis::win32
