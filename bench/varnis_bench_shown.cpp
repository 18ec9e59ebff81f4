// Preloaded into the desktop tool by varnis_bench to time its start-up
// without giving the program an option for it. The toolkit pushes a window's
// pixels to the screen through one exported call; the first such call is the
// moment the first window is shown with its content. This library stands in
// front of that call, writes "shown <CLOCK_MONOTONIC ns>\n" once to the
// descriptor named by VARNIS_BENCH_SHOWN_FD, and hands on to the real call.
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// The mangled name of the toolkit's backing store flush; its first argument
// is the object, then the region, the window and the offset, all pointers.
constexpr const char* kFlushName = "_ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint";
using FlushFn = void (*)(void*, const void*, void*, const void*);

std::atomic<bool> g_bReported{false};

void ReportOnce()
{
    if (g_bReported.exchange(true)) {
        return;
    }
    const char* fdText = std::getenv("VARNIS_BENCH_SHOWN_FD");
    if (fdText == nullptr) {
        return;
    }
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    char line[64];
    const int n =
        std::snprintf(line, sizeof line, "shown %lld\n", static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
    if (n > 0) {
        [[maybe_unused]] const ssize_t nDone = ::write(std::atoi(fdText), line, static_cast<size_t>(n));
    }
}

FlushFn RealFlush()
{
    static const FlushFn pReal = [] {
        void* pSym = ::dlvsym(RTLD_NEXT, kFlushName, "Qt_6");
        if (pSym == nullptr) {
            pSym = ::dlsym(RTLD_NEXT, kFlushName);
        }
        return reinterpret_cast<FlushFn>(pSym);
    }();
    return pReal;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void
_ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint(void* pThis, const void* pRegion, void* pWindow,
                                                      const void* pOffset)
{
    ReportOnce();
    if (const FlushFn pReal = RealFlush()) {
        pReal(pThis, pRegion, pWindow, pOffset);
    }
}
