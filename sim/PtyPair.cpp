#include "sim/SimDevice.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace varnis {

namespace {

bool MakeRaw(int hFd)
{
    termios tio{};
    if (::tcgetattr(hFd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    return ::tcsetattr(hFd, TCSANOW, &tio) == 0;
}

}  // namespace

std::optional<PtyPair> PtyPair::Open()
{
    PtyPair pair;
    pair.m_hMaster.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pair.m_hMaster.IsOpen() || ::grantpt(pair.MasterFd()) != 0 || ::unlockpt(pair.MasterFd()) != 0) {
        return std::nullopt;
    }
    std::array<char, 128> name{};
    if (::ptsname_r(pair.MasterFd(), name.data(), name.size()) != 0) {
        return std::nullopt;
    }
    pair.m_strSlavePath = name.data();
    // Opened before anyone else and never read, locked or made exclusive.
    pair.m_hSlaveKeep.Reset(::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!pair.m_hSlaveKeep.IsOpen()) {
        return std::nullopt;
    }
    // The terminal settings belong to the pair: raw on both sides, so that
    // nothing is echoed, translated or held back for a line.
    if (!MakeRaw(pair.MasterFd()) || !MakeRaw(pair.m_hSlaveKeep.Get())) {
        return std::nullopt;
    }
    const int nFlags = ::fcntl(pair.MasterFd(), F_GETFL);
    if (nFlags < 0 || ::fcntl(pair.MasterFd(), F_SETFL, nFlags | O_NONBLOCK) != 0) {
        return std::nullopt;
    }
    return pair;
}

UniqueFd OpenServedDevice(const std::string& strPath, std::string& strError)
{
    UniqueFd hFd(::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!hFd.IsOpen()) {
        strError = "cannot open " + strPath + ": " + std::strerror(errno);
        return hFd;
    }
    termios tio{};
    if (::tcgetattr(hFd.Get(), &tio) != 0) {
        strError = strPath + " is not a terminal: " + std::strerror(errno);
        return UniqueFd();
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(hFd.Get(), TCSANOW, &tio) != 0) {
        strError = "cannot set up " + strPath + ": " + std::strerror(errno);
        return UniqueFd();
    }
    ::tcflush(hFd.Get(), TCIOFLUSH);
    return hFd;
}

void PtyPair::CloseMaster()
{
    m_hMaster.Reset();
}

}  // namespace varnis
