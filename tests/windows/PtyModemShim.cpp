// Test scaffolding for running the Windows build under Wine against
// pseudo-terminals; shipped nowhere. Loaded into every Wine process (the
// programs and the wine server) with LD_PRELOAD. It makes a pseudo-terminal
// slave behave as a serial port does on Windows in two ways:
//
// - Modem lines. Wine waits for line events (WaitCommEvent) by asking the
//   tty for its modem lines every millisecond. A pseudo-terminal has none and
//   refuses the question (ENOTTY); Wine then ends every wait at once as
//   aborted, so a program that waits again spins. Here the question gets a
//   fixed, quiet answer (DSR and CTS up, RTS and DTR as set, no ring, no
//   carrier change), what a device that is switched on and idle shows; Wine's
//   wait then lasts until a byte arrives.
// - Exclusive opening. Windows opens a port for one program only, and a
//   second CreateFileA fails with ERROR_ACCESS_DENIED. Wine does not enforce
//   that for devices. Here each read-write open of a COM port of the prefix
//   (a dosdevices/comN link) that leads to a slave takes an exclusive
//   flock(), the lock the Linux engine takes too, and an open that cannot
//   have it fails with EACCES, which Wine reports as ERROR_ACCESS_DENIED.
//   Other ttys (the terminal the tests run in) are left alone.
//
// Every other call goes to the system unchanged.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

// Linux gives pseudo-terminal slaves the majors 136 to 143.
bool IsPtySlave(int nFd)
{
    struct stat st {};
    return ::fstat(nFd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

template <typename Fn>
Fn Next(const char* pszName)
{
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, pszName));
}

using IoctlFn = int (*)(int, unsigned long, ...);
using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);

// A read-write open of a COM port's slave that another open holds is refused.
int Exclusive(int nFd, const char* pszPath, int nFlags)
{
    if (nFd < 0 || (nFlags & O_ACCMODE) != O_RDWR || pszPath == nullptr ||
        std::strstr(pszPath, "/dosdevices/com") == nullptr || !IsPtySlave(nFd)) {
        return nFd;
    }
    if (::flock(nFd, LOCK_EX | LOCK_NB) == 0) {
        return nFd;
    }
    ::close(nFd);
    errno = EACCES;
    return -1;
}

mode_t ModeOf(int nFlags, va_list args)
{
    return (nFlags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" int ioctl(int nFd, unsigned long nRequest, ...)
{
    va_list args;
    va_start(args, nRequest);
    void* pArg = va_arg(args, void*);
    va_end(args);
    static const IoctlFn pNext = Next<IoctlFn>("ioctl");
    const int nResult = pNext(nFd, nRequest, pArg);
    if (nResult == 0 || errno != ENOTTY || nRequest != TIOCMGET || pArg == nullptr || !IsPtySlave(nFd)) {
        return nResult;
    }
    *static_cast<int*>(pArg) = TIOCM_DSR | TIOCM_CTS | TIOCM_RTS | TIOCM_DTR;
    return 0;
}

extern "C" int open(const char* pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    const mode_t nMode = ModeOf(nFlags, args);
    va_end(args);
    static const OpenFn pNext = Next<OpenFn>("open");
    return Exclusive(pNext(pszPath, nFlags, nMode), pszPath, nFlags);
}

extern "C" int open64(const char* pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    const mode_t nMode = ModeOf(nFlags, args);
    va_end(args);
    static const OpenFn pNext = Next<OpenFn>("open64");
    return Exclusive(pNext(pszPath, nFlags, nMode), pszPath, nFlags);
}

extern "C" int openat(int nDirFd, const char* pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    const mode_t nMode = ModeOf(nFlags, args);
    va_end(args);
    static const OpenAtFn pNext = Next<OpenAtFn>("openat");
    return Exclusive(pNext(nDirFd, pszPath, nFlags, nMode), pszPath, nFlags);
}

extern "C" int openat64(int nDirFd, const char* pszPath, int nFlags, ...)
{
    va_list args;
    va_start(args, nFlags);
    const mode_t nMode = ModeOf(nFlags, args);
    va_end(args);
    static const OpenAtFn pNext = Next<OpenAtFn>("openat64");
    return Exclusive(pNext(nDirFd, pszPath, nFlags, nMode), pszPath, nFlags);
}
