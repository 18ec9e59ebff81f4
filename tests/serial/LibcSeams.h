// Stand-ins for a few C library calls in the engine's test program, so that
// a test can make a pseudo-terminal act as a real line does at a moment of
// its choosing (an output queue that drains slowly, a close that lands
// between two calls of the monitoring thread). Each hook is a plain function
// set by one test and cleared by it; without hooks the calls are the
// library's own.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>

namespace varnis::test::seams {

// Runs before and after every read(); `nRead` is the read's result.
using ReadHook = void (*)(int hFd, std::size_t nCount);
using AfterReadHook = void (*)(int hFd, std::size_t nCount, ssize_t nRead);
// Runs in place of ioctl() when it returns true; `*pnResult` is then the
// call's result (errno set by the hook).
using IoctlHook = bool (*)(int hFd, unsigned long nRequest, void* pArg, int* pnResult);
// Runs before tcflush().
using FlushHook = void (*)(int hFd, int nQueue);
// Runs in place of write() when it returns true; `*pnResult` is then the
// call's result (errno set by the hook).
using WriteHook = bool (*)(int hFd, std::size_t nCount, ssize_t* pnResult);

inline std::atomic<ReadHook> g_beforeRead{nullptr};
inline std::atomic<AfterReadHook> g_afterRead{nullptr};
inline std::atomic<IoctlHook> g_ioctl{nullptr};
inline std::atomic<FlushHook> g_tcflush{nullptr};
inline std::atomic<WriteHook> g_write{nullptr};

// True when `hFd` is open on the character device `nDevice`.
bool IsDevice(int hFd, dev_t nDevice);

}  // namespace varnis::test::seams
