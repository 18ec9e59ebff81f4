#include "platform/Terminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace varnis::console {
namespace {

// /dev/tty, the name every process has for its controlling terminal.
bool IsControllingTerminalName(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == makedev(5, 0);
}

bool HasControllingTerminal()
{
    const int hTty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (hTty < 0) {
        return false;
    }
    ::close(hTty);
    return true;
}

}  // namespace

bool IsOwnTerminal(const std::string& path)
{
    if (IsControllingTerminalName(path)) {
        return HasControllingTerminal();
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    for (const int nFd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat stream {};
        if (::isatty(nFd) != 0 && ::fstat(nFd, &stream) == 0 && stream.st_rdev == st.st_rdev) {
            return true;
        }
    }
    return false;
}

bool NamesAbsentControllingTerminal(const std::string& path)
{
    return IsControllingTerminalName(path) && !HasControllingTerminal();
}

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

}  // namespace varnis::console
