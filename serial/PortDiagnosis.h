// Why a port cannot be used: told from how an open of it failed (the engine
// keeps that of its last Initialise), or found out by opening it the way the
// engine does (exclusively) and letting it go at once. Nothing is written to
// it. Realised once per system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnis {

enum class PortProblem : std::uint8_t { None, NoSuchDevice, PermissionDenied, InUse, NotSerialLine, Other };

struct PortDiagnosis {
    PortProblem m_eProblem = PortProblem::None;
    // One line without its end: "can be opened", "no such device",
    // "permission denied (...)", "in use by minicom (pid 812)", "not a serial line", ...
    std::string m_strText;
};

inline constexpr const char* kDialoutHint =
    "serial ports belong to the group dialout: sudo usermod -aG dialout \"$USER\", then log in again";

// Where the lock files of terminal programs are looked for (a live holder's
// lock file means the port is in use, when root or the holder's own user
// owns it); /var/lock unless set. Where the system has no such convention it
// is not used.
void SetPortLockDirectory(std::string directory);

// How an open of a port failed, as the system said it at the time: enough to
// tell why afterwards without opening the port again.
struct OpenFailure {
    int m_nError = 0;    // the system's error code; 0: the port was not tried
    long m_nHolder = 0;  // the process its lock file names, when that is what held it
};

// Why the open of `path` that failed with `failure` failed. `strProcRoot` is
// where the process table is read (who holds a port in use), when asked.
PortDiagnosis DiagnoseOpenFailure(const std::string& path, const OpenFailure& failure,
                                  const std::string& strProcRoot = "/proc");

// Opens `path` and lets it go at once: "can be opened", or why not.
PortDiagnosis DiagnosePort(const std::string& path, const std::string& strProcRoot = "/proc");

// The processes other than this one that hold `path`: the holder of its lock
// if the lock table shows one, else every process with it open, as
// "name (pid n)". Empty when the process table shows none (another user's
// processes are hidden from an ordinary user).
std::vector<std::string> PortHolders(const std::string& path, const std::string& strProcRoot = "/proc");

}  // namespace varnis
