// What sysfs and the kernel's tty driver table tell about a port.
#include "apps/cli/PortListing.h"

#include "serial/posix/ExclusiveOpen.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

namespace varnis::cli {
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

}  // namespace

PortInspector::PortInspector(std::string strSysRoot, std::string strProcRoot)
    : m_strSysRoot(std::move(strSysRoot)), m_strProcRoot(std::move(strProcRoot))
{
}

std::string PortInspector::PassedOver(const std::string& path) const
{
    return ReadPortLockFile(path, m_strProcRoot).m_strPassedOver;
}

// /proc/tty/drivers: "name  /dev/node  major  minor-range  type".
std::string PortInspector::DriverFromTable(unsigned nMajor, unsigned nMinor) const
{
    std::ifstream table(m_strProcRoot + "/tty/drivers");
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

PortFacts PortInspector::Facts(const std::string& path) const
{
    PortFacts facts;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return facts;
    }
    const std::string sysRoot = Resolved(m_strSysRoot);
    const std::string node = Resolved(m_strSysRoot + "/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                                      std::to_string(minor(st.st_rdev)));
    if (sysRoot.empty() || node.empty()) {
        facts.m_strDriver = DriverFromTable(major(st.st_rdev), minor(st.st_rdev));
        return facts;
    }
    facts.m_strDriver = BaseName(Resolved(node + "/device/driver"));
    if (facts.m_strDriver.empty()) {
        facts.m_strDriver = DriverFromTable(major(st.st_rdev), minor(st.st_rdev));
    }
    // The USB device is the nearest ancestor of the port's device that has
    // a vendor id.
    for (std::string dir = Resolved(node + "/device"); dir.size() > sysRoot.size() && dir.starts_with(sysRoot);
         dir = dir.substr(0, dir.rfind('/'))) {
        if (Exists(dir + "/idVendor")) {
            facts.m_bUsb = true;
            facts.m_strVendorId = Attribute(dir + "/idVendor");
            facts.m_strProductId = Attribute(dir + "/idProduct");
            facts.m_strManufacturer = Attribute(dir + "/manufacturer");
            facts.m_strProduct = Attribute(dir + "/product");
            facts.m_strSerialNumber = Attribute(dir + "/serial");
            break;
        }
    }
    return facts;
}

}  // namespace varnis::cli

namespace varnis::cli {

std::vector<ListedPort> SystemPortList(const PortTable& table)
{
    return TablePorts(table);
}

std::string SearchNote(const std::string&)
{
    return {};
}

}  // namespace varnis::cli
