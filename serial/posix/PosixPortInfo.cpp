// What sysfs and the kernel's tty driver table tell about a port; the ports
// the system has are those of the port table.
#include "serial/PortInfo.h"

#include "serial/posix/ExclusiveOpen.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace varnis {
namespace {

// The canonical form of `path`, empty when it does not resolve.
std::string Resolved(const std::string& path)
{
    char* pResolved = ::realpath(path.c_str(), nullptr);
    if (pResolved == nullptr) {
        return {};
    }
    std::string resolved(pResolved);
    std::free(pResolved);
    return resolved;
}

// The first line of a sysfs attribute, without trailing blanks.
std::string Attribute(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string BaseName(const std::string& path)
{
    const std::size_t nSlash = path.rfind('/');
    return nSlash == std::string::npos ? path : path.substr(nSlash + 1);
}

bool ParseUnsigned(std::string_view text, unsigned& nValue)
{
    const auto [pEnd, error] = std::from_chars(text.data(), text.data() + text.size(), nValue);
    return error == std::errc() && pEnd == text.data() + text.size() && !text.empty();
}

// The driver of the device numbers from /proc/tty/drivers:
// "name  /dev/node  major  minor-range  type".
std::string DriverFromTable(const std::string& strProcRoot, unsigned nMajor, unsigned nMinor)
{
    std::ifstream table(strProcRoot + "/tty/drivers");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name, node, major, minors;
        if (!(fields >> name >> node >> major >> minors)) {
            continue;
        }
        unsigned nLineMajor = 0;
        if (!ParseUnsigned(major, nLineMajor) || nLineMajor != nMajor) {
            continue;
        }
        const std::size_t nDash = minors.find('-');
        unsigned nFirst = 0;
        unsigned nLast = 0;
        const bool bRange = nDash == std::string::npos
                                ? ParseUnsigned(minors, nFirst) && ParseUnsigned(minors, nLast)
                                : ParseUnsigned(std::string_view(minors).substr(0, nDash), nFirst) &&
                                      ParseUnsigned(std::string_view(minors).substr(nDash + 1), nLast);
        if (bRange && nMinor >= nFirst && nMinor <= nLast) {
            return name;
        }
    }
    return {};
}

}  // namespace

PortDevice PortInfo::ReadDevice(const std::string& path, const PortInfoRoots& roots)
{
    PortDevice device;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return device;
    }
    const std::string sysRoot = Resolved(roots.m_strSysRoot);
    const std::string node = Resolved(roots.m_strSysRoot + "/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                                      std::to_string(minor(st.st_rdev)));
    if (sysRoot.empty() || node.empty()) {
        device.m_strDriver = DriverFromTable(roots.m_strProcRoot, major(st.st_rdev), minor(st.st_rdev));
        return device;
    }
    device.m_strDriver = BaseName(Resolved(node + "/device/driver"));
    if (device.m_strDriver.empty()) {
        device.m_strDriver = DriverFromTable(roots.m_strProcRoot, major(st.st_rdev), minor(st.st_rdev));
    }
    // The USB device is the nearest ancestor of the port's device that has
    // a vendor id.
    for (std::string dir = Resolved(node + "/device"); dir.size() > sysRoot.size() && dir.starts_with(sysRoot);
         dir = dir.substr(0, dir.rfind('/'))) {
        if (Exists(dir + "/idVendor")) {
            device.m_bUsb = true;
            device.m_strVendorId = Attribute(dir + "/idVendor");
            device.m_strProductId = Attribute(dir + "/idProduct");
            device.m_strManufacturer = Attribute(dir + "/manufacturer");
            device.m_strProduct = Attribute(dir + "/product");
            device.m_strSerialNumber = Attribute(dir + "/serial");
            break;
        }
    }
    return device;
}

std::string PortInfo::PassedOverLockFile() const
{
    return ReadPortLockFile(m_strPath, m_roots.m_strProcRoot).m_strPassedOver;
}

std::vector<AvailablePort> PortInfo::AvailablePorts(const PortTable& table)
{
    std::vector<AvailablePort> ports;
    for (unsigned n = 1; n <= PortTable::kPortCount; ++n) {
        ports.push_back({"COM" + std::to_string(n), table.PathOf(n), SearchSkip::None});
    }
    return ports;
}

// No port is left out of the search for its name here.
SearchSkip PortInfo::SearchSkipOf(const std::string&)
{
    return SearchSkip::None;
}

}  // namespace varnis
