#include "serial/posix/ExclusiveOpen.h"

#include "serial/PortDiagnosis.h"
#include "serial/SerialNotify.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace varnis {

namespace {
std::mutex g_lockDirectoryMutex;
std::string g_lockDirectory = "/var/lock";

// A lock file holds the holder's pid as text ("      812\n") or, as some
// programs write it, as a binary int.
pid_t PidOfLockFile(int hFile)
{
    std::array<char, 64> buffer{};
    const ssize_t nRead = ::read(hFile, buffer.data(), buffer.size() - 1);
    if (nRead <= 0) {
        return 0;
    }
    const auto nLength = static_cast<std::size_t>(nRead);
    bool bText = true;
    for (std::size_t i = 0; i < nLength; ++i) {
        const auto c = static_cast<unsigned char>(buffer[i]);
        bText = bText && (std::isdigit(c) != 0 || std::isspace(c) != 0);
    }
    if (!bText && nLength == sizeof(int)) {
        int nPid = 0;
        std::memcpy(&nPid, buffer.data(), sizeof nPid);
        return nPid;
    }
    long nPid = 0;
    std::size_t i = 0;
    while (i < nLength && std::isspace(static_cast<unsigned char>(buffer[i])) != 0) {
        ++i;
    }
    for (; i < nLength && std::isdigit(static_cast<unsigned char>(buffer[i])) != 0 && nPid < 100000000; ++i) {
        nPid = nPid * 10 + (buffer[i] - '0');
    }
    return static_cast<pid_t>(nPid);
}

// "nobody (uid 65534)", or the number alone for a user without a name.
std::string UserText(uid_t nUid)
{
    passwd entry{};
    passwd* pFound = nullptr;
    std::array<char, 1024> strings{};
    const std::string number = "uid " + std::to_string(nUid);
    if (::getpwuid_r(nUid, &entry, strings.data(), strings.size(), &pFound) == 0 && pFound != nullptr &&
        pFound->pw_name != nullptr) {
        return std::string(pFound->pw_name) + " (" + number + ")";
    }
    return number;
}
}  // namespace

void SetPortLockDirectory(std::string directory)
{
    const std::lock_guard lock(g_lockDirectoryMutex);
    g_lockDirectory = std::move(directory);
}

std::string PortLockFile(const std::string& path)
{
    const std::size_t nSlash = path.rfind('/');
    const std::string name = nSlash == std::string::npos ? path : path.substr(nSlash + 1);
    const std::lock_guard lock(g_lockDirectoryMutex);
    return g_lockDirectory + "/LCK.." + name;
}

PortLockFileState ReadPortLockFile(const std::string& path, const std::string& strProcRoot)
{
    PortLockFileState state;
    const std::string file = PortLockFile(path);
    const UniqueFd hFile(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat fileStat {};
    if (!hFile.IsOpen() || ::fstat(hFile.Get(), &fileStat) != 0 || !S_ISREG(fileStat.st_mode)) {
        return state;
    }
    const pid_t nPid = PidOfLockFile(hFile.Get());
    if (nPid <= 0 || nPid == ::getpid() || (::kill(nPid, 0) != 0 && errno != EPERM)) {
        return state;  // no process, this one, or stale
    }
    struct stat processStat {};
    const bool bOwnerSeen = ::stat((strProcRoot + "/" + std::to_string(nPid)).c_str(), &processStat) == 0;
    if (fileStat.st_uid == 0 || (bOwnerSeen && fileStat.st_uid == processStat.st_uid)) {
        state.m_nHolder = nPid;
        return state;
    }
    state.m_strPassedOver = "lock file " + file + " of " + UserText(fileStat.st_uid) + " passed over: it names pid " +
                            std::to_string(nPid) + ", " +
                            (bOwnerSeen ? "a process of " + UserText(processStat.st_uid) : "whose owner is not shown");
    return state;
}

pid_t LiveLockFileHolder(const std::string& path)
{
    return ReadPortLockFile(path).m_nHolder;
}

UniqueFd OpenPortExclusive(const std::string& path, int& nError, pid_t* pHolder)
{
    UniqueFd hFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!hFd.IsOpen()) {
        nError = errno;
        return UniqueFd();
    }
    if (::isatty(hFd.Get()) == 0) {
        nError = ENOTTY;
        return UniqueFd();
    }
    // Someone else's mark (root gets past it) or lock file: in use, and left
    // exactly as found.
    int nMarked = 0;
    if (::ioctl(hFd.Get(), TIOCGEXCL, &nMarked) == 0 && nMarked != 0) {
        nError = EBUSY;
        return UniqueFd();
    }
    const PortLockFileState lockFile = ReadPortLockFile(path);
    if (lockFile.m_nHolder != 0) {
        if (pHolder != nullptr) {
            *pHolder = lockFile.m_nHolder;
        }
        nError = EBUSY;
        return UniqueFd();
    }
    if (!lockFile.m_strPassedOver.empty()) {
        Trace(lockFile.m_strPassedOver + "\n");
    }
    // The lock comes before the mark, so a port another engine holds is
    // never marked by us.
    if (::flock(hFd.Get(), LOCK_EX | LOCK_NB) != 0 || ::ioctl(hFd.Get(), TIOCEXCL) != 0) {
        nError = errno;
        return UniqueFd();
    }
    nError = 0;
    return hFd;
}

}  // namespace varnis
