// The stand-ins themselves: the test program's own definitions come before
// the C library's, which they call.
#include "serial/LibcSeams.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>

namespace varnis::test::seams {

bool IsDevice(int hFd, dev_t nDevice)
{
    struct stat st {};
    return ::fstat(hFd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == nDevice;
}

}  // namespace varnis::test::seams

using namespace varnis::test::seams;

extern "C" ssize_t read(int hFd, void* pBuffer, size_t nCount)
{
    using Real = ssize_t (*)(int, void*, size_t);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "read"));
    if (const ReadHook before = g_beforeRead.load()) {
        before(hFd, nCount);
    }
    const ssize_t nRead = real(hFd, pBuffer, nCount);
    if (const AfterReadHook after = g_afterRead.load()) {
        after(hFd, nCount, nRead);
    }
    return nRead;
}

extern "C" int ioctl(int hFd, unsigned long nRequest, ...) noexcept
{
    va_list args;
    va_start(args, nRequest);
    void* pArg = va_arg(args, void*);
    va_end(args);
    using Real = int (*)(int, unsigned long, ...);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "ioctl"));
    int nResult = 0;
    if (const IoctlHook hook = g_ioctl.load(); hook != nullptr && hook(hFd, nRequest, pArg, &nResult)) {
        return nResult;
    }
    return real(hFd, nRequest, pArg);
}

extern "C" int tcflush(int hFd, int nQueue) noexcept
{
    using Real = int (*)(int, int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcflush"));
    if (const FlushHook hook = g_tcflush.load()) {
        hook(hFd, nQueue);
    }
    return real(hFd, nQueue);
}

extern "C" ssize_t write(int hFd, const void* pBuffer, size_t nCount)
{
    using Real = ssize_t (*)(int, const void*, size_t);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "write"));
    ssize_t nResult = 0;
    if (const WriteHook hook = g_write.load(); hook != nullptr && hook(hFd, nCount, &nResult)) {
        return nResult;
    }
    return real(hFd, pBuffer, nCount);
}
