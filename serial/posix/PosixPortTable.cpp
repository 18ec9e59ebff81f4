// COM1 to COM10 on a POSIX system: the serial device nodes present.
#include "serial/PortTable.h"

#include "platform/posix/UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace varnis {

namespace {

// The numbers n of the /dev entries named `prefix`n, ascending.
std::vector<unsigned> NumberedNodes(std::string_view prefix)
{
    std::vector<unsigned> numbers;
    DIR* pDir = ::opendir("/dev");
    if (pDir == nullptr) {
        return numbers;
    }
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string_view name(pEntry->d_name);
        if (name.size() <= prefix.size() || !name.starts_with(prefix)) {
            continue;
        }
        const std::string_view digits = name.substr(prefix.size());
        unsigned nNumber = 0;
        const auto [pEnd, error] = std::from_chars(digits.data(), digits.data() + digits.size(), nNumber);
        if (error == std::errc() && pEnd == digits.data() + digits.size()) {
            numbers.push_back(nNumber);
        }
    }
    ::closedir(pDir);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// A node that resolves into the system's pseudo-terminals is never a port.
bool IsPseudoTerminal(const std::string& path)
{
    char* pResolved = ::realpath(path.c_str(), nullptr);
    if (pResolved == nullptr) {
        return true;  // dangling: not usable anyway
    }
    const std::string_view resolved(pResolved);
    const bool bPty = resolved.starts_with("/dev/pts/") || resolved == "/dev/ptmx" || resolved.starts_with("/dev/pty");
    std::free(pResolved);
    return bPty;
}

// On-board ports are listed by the kernel whether or not a UART is fitted.
// The port type is read from sysfs where it can be (no open, so a port held
// by another program keeps its number), else asked of the device.
bool HasUart(std::string_view name)
{
    const std::string typePath = "/sys/class/tty/" + std::string(name) + "/type";
    if (std::FILE* pFile = std::fopen(typePath.c_str(), "re")) {
        int nType = PORT_UNKNOWN;
        const bool bRead = std::fscanf(pFile, "%d", &nType) == 1;
        std::fclose(pFile);
        if (bRead) {
            return nType != PORT_UNKNOWN;
        }
    }
    const std::string path = "/dev/" + std::string(name);
    const UniqueFd hFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!hFd.IsOpen()) {
        return errno == EBUSY;  // held exclusively by someone: it is there
    }
    serial_struct info{};
    return ::ioctl(hFd.Get(), TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
}

}  // namespace

PortTable PortTable::FromSystem()
{
    PortTable table;
    unsigned nNext = 1;
    for (const std::string_view prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        for (const unsigned nNumber : NumberedNodes(prefix)) {
            if (nNext > kPortCount) {
                return table;
            }
            const std::string name = std::string(prefix) + std::to_string(nNumber);
            std::string path = "/dev/" + name;
            if (IsPseudoTerminal(path) || (prefix == "ttyS" && !HasUart(name))) {
                continue;
            }
            table.SetPath(nNext++, std::move(path));
        }
    }
    return table;
}

std::string PortTable::ComPath(unsigned portnr)
{
    return FromSystem().PathOf(portnr);
}

}  // namespace varnis
