// What the fault tests measure about the process itself: open descriptors,
// threads, resident memory and CPU time.
#pragma once

#include <dirent.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace varnis::faults {

// Entries of a /proc directory, "." and ".." and the directory's own
// descriptor not counted.
inline int CountEntries(const char* path)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> pDir(::opendir(path), &::closedir);
    if (!pDir) {
        return -1;
    }
    int nCount = 0;
    while (const dirent* pEntry = ::readdir(pDir.get())) {
        if (std::strcmp(pEntry->d_name, ".") != 0 && std::strcmp(pEntry->d_name, "..") != 0) {
            ++nCount;
        }
    }
    return nCount - (std::strcmp(path, "/proc/self/fd") == 0 ? 1 : 0);
}

inline int OpenFdCount()
{
    return CountEntries("/proc/self/fd");
}

inline int ThreadCount()
{
    return CountEntries("/proc/self/task");
}

// Resident set size in KiB (VmRSS), -1 when unknown.
inline long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

inline std::chrono::nanoseconds ProcessCpuTime()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// True in builds whose allocator keeps freed memory back on purpose
// (AddressSanitizer's quarantine), where resident memory says little.
inline constexpr bool kSanitizedAllocator =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

}  // namespace varnis::faults
