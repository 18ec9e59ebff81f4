// What `varnis-cli ports` tells about each port: its device path, kernel
// driver, USB identity and whether this user can open it.
#pragma once

#include "serial/PortDiagnosis.h"
#include "serial/PortTable.h"

#include <ostream>
#include <string>
#include <vector>

namespace varnis::cli {

// Why a port cannot be used, as the user is told. /dev/tty stands for the
// program's controlling terminal; without one it cannot be opened.
PortDiagnosis DiagnoseForUser(const std::string& path, const std::string& strProcRoot = "/proc");

// What sysfs (and the kernel's tty driver table) says about a device node;
// on Windows what SetupAPI says about the port's device.
struct PortFacts {
    std::string m_strName;    // the device's friendly name, where the system gives one
    std::string m_strDriver;  // empty when nothing says
    bool m_bUsb = false;
    std::string m_strVendorId;
    std::string m_strProductId;
    std::string m_strManufacturer;
    std::string m_strProduct;
    std::string m_strSerialNumber;
};

// Reads the facts of a device node from the sysfs tree under `strSysRoot`
// and the tty driver table under `strProcRoot`; the roots are the machine's
// own by default.
class PortInspector {
public:
    explicit PortInspector(std::string strSysRoot = "/sys", std::string strProcRoot = "/proc");

    PortFacts Facts(const std::string& path) const;
    PortDiagnosis Access(const std::string& path) const { return DiagnoseForUser(path, m_strProcRoot); }
    // A lock file of the port that does not count (its owner is neither root
    // nor the user of the process it names): which file, whose, and the
    // process it names. Empty when there is none, or no such convention.
    std::string PassedOver(const std::string& path) const;

private:
    std::string DriverFromTable(unsigned nMajor, unsigned nMinor) const;

    std::string m_strSysRoot;
    std::string m_strProcRoot;
};

// One port to list: "COM3" and its path (an empty path: no device there);
// an empty label lists the path alone.
struct ListedPort {
    std::string m_strLabel;
    std::string m_strPath;
    std::string m_strNote;  // a line of its own when not empty
};

// COM1 to COM10 of the table, in order.
std::vector<ListedPort> TablePorts(const PortTable& table);

// What `ports` lists without --port (realised once per system): COM1 to
// COM10 of the table; on Windows a number the system does not list only
// where a port is there, and also the ports the system lists that the search
// does not try (above COM10, Bluetooth modem ports), each with a note.
std::vector<ListedPort> SystemPortList(const PortTable& table);
// The note for a port named COMn that the search does not try; empty for
// the others.
std::string SearchNote(const std::string& name);

void WritePortList(const std::vector<ListedPort>& ports, const PortInspector& inspector, std::ostream& out);

}  // namespace varnis::cli
