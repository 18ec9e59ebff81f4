// Test scaffolding for running the Windows build under Wine against
// pseudo-terminals; shipped nowhere. Loaded into the Wine process with
// LD_PRELOAD.
//
// Wine waits for line events (WaitCommEvent) by asking the tty for its modem
// lines every millisecond. A pseudo-terminal has no modem lines and refuses
// the question (ENOTTY), and Wine then ends every wait at once as aborted, so
// a program that waits again at once spins. This answers the modem-line
// question for pseudo-terminal slaves with a fixed, quiet line (DSR and CTS
// up, RTS and DTR as set, no ring, no carrier change), which is what a
// device that is switched on and idle shows; Wine's wait then lasts until a
// byte arrives. Every other request goes to the system unchanged.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdarg>

namespace {

// Linux gives pseudo-terminal slaves the majors 136 to 143.
bool IsPtySlave(int nFd) {
    struct stat st {};
    return ::fstat(nFd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

using IoctlFn = int (*)(int, unsigned long, ...);

IoctlFn SystemIoctl() {
    static const IoctlFn pNext = reinterpret_cast<IoctlFn>(::dlsym(RTLD_NEXT, "ioctl"));
    return pNext;
}

}  // namespace

extern "C" int ioctl(int nFd, unsigned long nRequest, ...) {
    va_list args;
    va_start(args, nRequest);
    void* pArg = va_arg(args, void*);
    va_end(args);
    const IoctlFn pNext = SystemIoctl();
    if (pNext == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    const int nResult = pNext(nFd, nRequest, pArg);
    if (nResult == 0 || errno != ENOTTY || nRequest != TIOCMGET || pArg == nullptr || !IsPtySlave(nFd)) {
        return nResult;
    }
    *static_cast<int*>(pArg) = TIOCM_DSR | TIOCM_CTS | TIOCM_RTS | TIOCM_DTR;
    return 0;
}
