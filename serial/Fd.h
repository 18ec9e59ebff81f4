// Small owners of POSIX resources used by the serial engine and its helpers:
// a file descriptor, a manual-reset event flag, a joinable thread.
#pragma once

#include <pthread.h>

#include <cstdio>
#include <functional>
#include <string>

namespace varnis {

// Owns one file descriptor and closes it once.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int hFd) : m_hFd(hFd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_hFd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_hFd; }
    bool IsOpen() const { return m_hFd >= 0; }
    int Release();
    void Reset(int hFd = -1);

private:
    int m_hFd = -1;
};

// A manual-reset event on an eventfd: readable while set. Set and Reset may
// be called from any thread.
class EventFlag {
public:
    bool Create();  // not set; false if no descriptor could be had
    bool IsCreated() const { return m_hFd.IsOpen(); }
    void Set() const;
    void Reset() const;
    bool IsSet() const;  // non-blocking look
    int Fd() const { return m_hFd.Get(); }

private:
    UniqueFd m_hFd;
};

// One POSIX thread running a callable; joined by Join or the destructor.
// Start reports failure as false instead of throwing.
class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { Join(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool Start(std::function<void()> body);
    void Join();
    bool IsJoinable() const { return m_bJoinable; }

private:
    static void* Trampoline(void* pArg);

    std::function<void()> m_body;
    pthread_t m_hThread{};
    bool m_bJoinable = false;
};

// printf-style composition into a string of the needed length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's text for an error number (thread-safe).
std::string SystemErrorText(int nError);

// Waits until `hFd` shows `nEvents` or `hCancelFd` (if >= 0) is readable,
// at most `nTimeoutMs` (-1: no limit). Returns the poll() result for `hFd`:
// its revents when it became ready, 0 on time-out or cancel, -1 on error
// (errno set). `*pbCancelled` tells whether the cancel descriptor fired.
int WaitForFd(int hFd, short nEvents, int hCancelFd, int nTimeoutMs, bool* pbCancelled);

}  // namespace varnis
