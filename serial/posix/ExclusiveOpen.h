// How a port is held exclusively on a POSIX system; shared by the engine's
// backend and the port diagnosis.
#pragma once

#include "platform/posix/UniqueFd.h"

#include <sys/types.h>

#include <string>

namespace varnis {

// Opens `path` the way the engine holds a port: read-write, no controlling
// terminal, non-blocking; then, if no other program holds it, an exclusive
// lock and the exclusive-use mark. A port counts as held by another program
// when it is already marked for exclusive use (root could open it all the
// same), when a live process holds its lock file (the convention of terminal
// programs, see PortLockFile), or when another program holds its lock. On
// failure the descriptor is closed, nothing is changed on the port, and
// `nError` says why: the system's error number, ENOTTY for a file that is no
// serial line, EBUSY for a port marked or lock-filed by another program (with
// `*pHolder` set to the lock file's pid when that is how), EWOULDBLOCK for a
// port whose lock another program holds. A port opened here carries a mark
// this program set, and only such a mark is ever cleared.
UniqueFd OpenPortExclusive(const std::string& path, int& nError, pid_t* pHolder = nullptr);

// The lock file terminal programs keep for `path` ("LCK..ttyUSB0" in the
// lock directory), and the live process it names (0: none, stale, or passed
// over).
std::string PortLockFile(const std::string& path);
pid_t LiveLockFileHolder(const std::string& path);

// Every user can write to the lock directory, so a lock file counts only
// when root or the owner of the live process it names owns it; any other is
// passed over, and `m_strPassedOver` says which file, whose it is and which
// process it names. `strProcRoot` is where a process's owner is looked up.
struct PortLockFileState {
    pid_t m_nHolder = 0;
    std::string m_strPassedOver;
};
PortLockFileState ReadPortLockFile(const std::string& path, const std::string& strProcRoot = "/proc");

}  // namespace varnis
