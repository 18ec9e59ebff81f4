// How a port is held exclusively on a POSIX system; shared by the engine's
// backend and the port diagnosis.
#pragma once

#include "serial/posix/Fd.h"

#include <string>

namespace varnis {

// Opens `path` the way the engine holds a port: read-write, no controlling
// terminal, non-blocking, an exclusive lock, then exclusive use. On failure
// the descriptor is closed and `nError` says why: the system's error number,
// ENOTTY for a file that is no serial line, EWOULDBLOCK for a port whose lock
// another program holds.
UniqueFd OpenPortExclusive(const std::string& path, int& nError);

}  // namespace varnis
