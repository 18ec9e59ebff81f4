#include "serial/posix/ExclusiveOpen.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace varnis {

UniqueFd OpenPortExclusive(const std::string& path, int& nError) {
    UniqueFd hFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!hFd.IsOpen()) {
        nError = errno;
        return UniqueFd();
    }
    if (::isatty(hFd.Get()) == 0) {
        nError = ENOTTY;
        return UniqueFd();
    }
    // The lock comes first, so a port that is someone else's is never marked
    // exclusive by us (root passes TIOCEXCL, but not the lock).
    if (::flock(hFd.Get(), LOCK_EX | LOCK_NB) != 0 || ::ioctl(hFd.Get(), TIOCEXCL) != 0) {
        nError = errno;
        return UniqueFd();
    }
    nError = 0;
    return hFd;
}

}  // namespace varnis
