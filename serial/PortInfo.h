// What the system tells about a serial port: the device behind it (its
// driver, its USB identity), who holds it and whether this program can open
// it; and which ports the system has. Realised once per system: on POSIX
// from the device tree (sysfs), the kernel's tty driver table, the process
// table and the lock files of terminal programs; on Windows from the device
// setup (the Ports device class) and the system's list of serial ports.
// The engine itself needs none of it.
#pragma once

#include "serial/PortDiagnosis.h"
#include "serial/PortTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnis {

// Where the system's own tables are read (POSIX): the device tree and the
// process table, the machine's own by default. Windows asks the system.
struct PortInfoRoots {
    std::string m_strSysRoot = "/sys";
    std::string m_strProcRoot = "/proc";
};

// The device behind a port as the system describes it; each field empty
// where the system says nothing.
struct PortDevice {
    std::string m_strName;  // the device's friendly name, where the system gives one
    std::string m_strDriver;
    bool m_bUsb = false;
    std::string m_strVendorId;   // "0403"
    std::string m_strProductId;  // "6001"
    std::string m_strManufacturer;
    std::string m_strProduct;
    std::string m_strSerialNumber;
};

// Why the search (COM1 to COM10 of the port table) does not try a port the
// system has.
enum class SearchSkip : std::uint8_t {
    None,
    BeyondTable,     // not one of COM1 to COM10
    BluetoothModem,  // opening it calls the far device
};

// One port the system has: its name ("COM3"), its path (empty: no device
// behind the number) and whether the search tries it.
struct AvailablePort {
    std::string m_strName;
    std::string m_strPath;
    SearchSkip m_eSkip = SearchSkip::None;
};

class PortInfo {
public:
    // Reads what the system tells about the device at `path`; nothing is
    // opened.
    explicit PortInfo(std::string path, PortInfoRoots roots = {});

    const std::string& Path() const { return m_strPath; }
    const PortDevice& Device() const { return m_device; }

    // Looked at when asked, since a port changes hands at any time.
    // Whether the port opens the way the engine opens it, and why not: it
    // is opened and let go at once, and nothing is written to it.
    PortDiagnosis Access() const { return DiagnosePort(m_strPath, m_roots.m_strProcRoot); }
    // The processes other than this one that hold it, as "name (pid n)".
    std::vector<std::string> Holders() const { return PortHolders(m_strPath, m_roots.m_strProcRoot); }
    // A lock file of the port that does not count (its owner is neither root
    // nor the user of the process it names): which file, whose, and the
    // process it names. Empty when there is none, or no such convention.
    std::string PassedOverLockFile() const;

    // COM1 to COM10 of `table` in order; on Windows a number the system does
    // not list only where a port is there (it opens, or another program
    // holds it), and after them the ports the system lists that the search
    // does not try.
    static std::vector<AvailablePort> AvailablePorts(const PortTable& table);
    // Whether the search tries a port the user calls `name`.
    static SearchSkip SearchSkipOf(const std::string& name);

private:
    static PortDevice ReadDevice(const std::string& path, const PortInfoRoots& roots);

    std::string m_strPath;
    PortInfoRoots m_roots;
    PortDevice m_device;
};

}  // namespace varnis
