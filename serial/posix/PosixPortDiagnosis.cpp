#include "serial/PortDiagnosis.h"

#include "serial/Text.h"
#include "serial/posix/ExclusiveOpen.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string_view>

namespace varnis {
namespace {

constexpr std::size_t kMaxNamedHolders = 3;

bool ParseDecimal(std::string_view text, unsigned long& nValue)
{
    const auto [pEnd, error] = std::from_chars(text.data(), text.data() + text.size(), nValue);
    return error == std::errc() && pEnd == text.data() + text.size() && !text.empty();
}

bool ParseHex(std::string_view text, unsigned& nValue)
{
    const auto [pEnd, error] = std::from_chars(text.data(), text.data() + text.size(), nValue, 16);
    return error == std::errc() && pEnd == text.data() + text.size() && !text.empty();
}

std::string ProcessName(const std::string& strProcRoot, unsigned long nPid)
{
    std::ifstream comm(strProcRoot + "/" + std::to_string(nPid) + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name.empty()) {
        name = "?";
    }
    return name + " (pid " + std::to_string(nPid) + ")";
}

// The pids of the lock table's entries on the file `st`.
std::vector<unsigned long> LockHolders(const std::string& strProcRoot, const struct stat& st)
{
    std::vector<unsigned long> pids;
    std::ifstream locks(strProcRoot + "/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 812 00:05:87 0 EOF"; waiters carry "->".
        if (line.find("->") != std::string::npos) {
            continue;
        }
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (!(fields >> number >> kind >> mode >> access >> pid >> file)) {
            continue;
        }
        const std::size_t nFirst = file.find(':');
        const std::size_t nSecond = file.find(':', nFirst + 1);
        if (nFirst == std::string::npos || nSecond == std::string::npos) {
            continue;
        }
        unsigned nMajor = 0;
        unsigned nMinor = 0;
        unsigned long nInode = 0;
        unsigned long nPid = 0;
        const std::string_view view(file);
        if (ParseHex(view.substr(0, nFirst), nMajor) &&
            ParseHex(view.substr(nFirst + 1, nSecond - nFirst - 1), nMinor) &&
            ParseDecimal(view.substr(nSecond + 1), nInode) && ParseDecimal(pid, nPid) && nMajor == major(st.st_dev) &&
            nMinor == minor(st.st_dev) && nInode == st.st_ino) {
            pids.push_back(nPid);
        }
    }
    return pids;
}

// The pids with a descriptor open on the character device `nDevice`.
std::vector<unsigned long> DescriptorHolders(const std::string& strProcRoot, dev_t nDevice)
{
    std::vector<unsigned long> pids;
    DIR* pProc = ::opendir(strProcRoot.c_str());
    if (pProc == nullptr) {
        return pids;
    }
    while (const dirent* pEntry = ::readdir(pProc)) {
        unsigned long nPid = 0;
        if (!ParseDecimal(pEntry->d_name, nPid)) {
            continue;
        }
        const std::string fdDir = strProcRoot + "/" + pEntry->d_name + "/fd";
        DIR* pFds = ::opendir(fdDir.c_str());
        if (pFds == nullptr) {
            continue;  // gone, or another user's
        }
        while (const dirent* pFd = ::readdir(pFds)) {
            struct stat target {};
            if (pFd->d_name[0] != '.' && ::stat((fdDir + "/" + pFd->d_name).c_str(), &target) == 0 &&
                S_ISCHR(target.st_mode) && target.st_rdev == nDevice) {
                pids.push_back(nPid);
                break;
            }
        }
        ::closedir(pFds);
    }
    ::closedir(pProc);
    return pids;
}

std::string InUseText(const std::string& path, const std::string& strProcRoot)
{
    const std::vector<std::string> holders = PortHolders(path, strProcRoot);
    if (holders.empty()) {
        return "in use by another program";
    }
    std::string text = "in use by ";
    for (std::size_t i = 0; i < holders.size() && i < kMaxNamedHolders; ++i) {
        text += (i == 0 ? "" : ", ") + holders[i];
    }
    if (holders.size() > kMaxNamedHolders) {
        text += " and " + std::to_string(holders.size() - kMaxNamedHolders) + " more";
    }
    return text;
}

PortDiagnosis OpenFailureOf(int nError, const std::string& path, const std::string& strProcRoot)
{
    switch (nError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return {PortProblem::NoSuchDevice, "no such device"};
    case EACCES:
    case EPERM: return {PortProblem::PermissionDenied, std::string("permission denied (") + kDialoutHint + ")"};
    case EBUSY: return {PortProblem::InUse, InUseText(path, strProcRoot)};
    case EISDIR: return {PortProblem::NotSerialLine, "not a serial line"};
    default: return {PortProblem::Other, SystemErrorText(nError)};
    }
}

}  // namespace

std::vector<std::string> PortHolders(const std::string& path, const std::string& strProcRoot)
{
    std::vector<std::string> holders;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return holders;
    }
    std::vector<unsigned long> pids = LockHolders(strProcRoot, st);
    if (pids.empty() && S_ISCHR(st.st_mode)) {
        pids = DescriptorHolders(strProcRoot, st.st_rdev);
    }
    std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    const auto nSelf = static_cast<unsigned long>(::getpid());
    for (const unsigned long nPid : pids) {
        if (nPid != nSelf) {
            holders.push_back(ProcessName(strProcRoot, nPid));
        }
    }
    return holders;
}

PortDiagnosis DiagnoseOpenFailure(const std::string& path, const OpenFailure& failure, const std::string& strProcRoot)
{
    if (path.empty()) {
        return {PortProblem::NoSuchDevice, "no such device"};
    }
    if (failure.m_nError == 0) {
        return {PortProblem::Other, "could not be opened at the time"};
    }
    if (failure.m_nError == ENOTTY) {
        return {PortProblem::NotSerialLine, "not a serial line"};
    }
    if (failure.m_nHolder != 0) {
        return {PortProblem::InUse,
                "in use by " + ProcessName(strProcRoot, static_cast<unsigned long>(failure.m_nHolder))};
    }
    if (failure.m_nError == EWOULDBLOCK) {
        return {PortProblem::InUse, InUseText(path, strProcRoot)};
    }
    return OpenFailureOf(failure.m_nError, path, strProcRoot);
}

PortDiagnosis DiagnosePort(const std::string& path, const std::string& strProcRoot)
{
    if (path.empty()) {
        return {PortProblem::NoSuchDevice, "no such device"};
    }
    int nError = 0;
    pid_t nHolder = 0;
    const UniqueFd hFd = OpenPortExclusive(path, nError, &nHolder);
    if (!hFd.IsOpen()) {
        return DiagnoseOpenFailure(path, {nError, static_cast<long>(nHolder)}, strProcRoot);
    }
    // The mark and the lock are ours (a port someone else had marked was
    // refused above), so giving them back leaves the port as it was found.
    ::ioctl(hFd.Get(), TIOCNXCL);
    ::flock(hFd.Get(), LOCK_UN);
    return {PortProblem::None, "can be opened"};
}

}  // namespace varnis
