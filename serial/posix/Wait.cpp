#include "serial/posix/Wait.h"

#include <poll.h>

#include <array>
#include <cerrno>

namespace varnis {

int WaitForFd(int hFd, short nEvents, int hCancelFd, int nTimeoutMs, bool* pbCancelled)
{
    std::array<pollfd, 2> entries{{{hFd, nEvents, 0}, {hCancelFd, POLLIN, 0}}};
    *pbCancelled = false;
    for (;;) {
        const int nReady = ::poll(entries.data(), entries.size(), nTimeoutMs);
        if (nReady < 0 && errno == EINTR) {
            continue;  // the time-out restarts; callers only use it as a bound
        }
        if (nReady < 0) {
            return -1;
        }
        if (entries[1].revents != 0) {
            *pbCancelled = true;
            return 0;
        }
        return entries[0].revents;
    }
}

}  // namespace varnis
