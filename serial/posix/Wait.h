// poll() on one descriptor with a cancel descriptor beside it.
#pragma once

namespace varnis {

// Waits until `hFd` shows `nEvents` or `hCancelFd` (if >= 0) is readable,
// at most `nTimeoutMs` (-1: no limit). Returns the poll() result for `hFd`:
// its revents when it became ready, 0 on time-out or cancel, -1 on error
// (errno set). `*pbCancelled` tells whether the cancel descriptor fired.
int WaitForFd(int hFd, short nEvents, int hCancelFd, int nTimeoutMs, bool* pbCancelled);

}  // namespace varnis
