// Events, waits and threads on POSIX: eventfd, poll() and POSIX threads.
#include "serial/EventFlag.h"
#include "serial/Text.h"
#include "serial/WorkerThread.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace varnis {

namespace {
int FdOf(NativeHandle hEvent)
{
    return static_cast<int>(hEvent);
}
}  // namespace

EventFlag::~EventFlag()
{
    if (IsCreated()) {
        ::close(FdOf(m_hEvent));
    }
}

bool EventFlag::Create()
{
    const int hFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (hFd < 0) {
        return false;
    }
    if (IsCreated()) {
        ::close(FdOf(m_hEvent));
    }
    m_hEvent = hFd;
    return true;
}

void EventFlag::Set() const
{
    const std::uint64_t nOne = 1;
    // A full counter (EAGAIN) is still set, which is all that matters.
    [[maybe_unused]] const ssize_t nDone = ::write(FdOf(m_hEvent), &nOne, sizeof nOne);
}

void EventFlag::Reset() const
{
    std::uint64_t nValue = 0;
    [[maybe_unused]] const ssize_t nDone = ::read(FdOf(m_hEvent), &nValue, sizeof nValue);
}

bool EventFlag::IsSet() const
{
    return IsHandleSignalled(m_hEvent);
}

bool EventFlag::Wait(int nTimeoutMs, NativeHandle hCancel) const
{
    const std::array<NativeHandle, 2> handles{m_hEvent, hCancel};
    return WaitForAny(handles, nTimeoutMs) == 0;
}

int WaitForAny(std::span<const NativeHandle> handles, int nTimeoutMs)
{
    std::array<pollfd, 8> small{};
    std::vector<pollfd> large;
    pollfd* pEntries = small.data();
    if (handles.size() > small.size()) {
        large.resize(handles.size());
        pEntries = large.data();
    }
    for (std::size_t i = 0; i < handles.size(); ++i) {
        pEntries[i] = pollfd{FdOf(handles[i]), POLLIN, 0};  // a negative descriptor is left out by poll()
    }
    for (;;) {
        const int nReady = ::poll(pEntries, handles.size(), nTimeoutMs);
        if (nReady < 0 && errno == EINTR) {
            continue;  // the time-out restarts; callers only use it as a bound
        }
        if (nReady < 0) {
            return kWaitFailed;
        }
        for (std::size_t i = 0; i < handles.size(); ++i) {
            if (pEntries[i].revents != 0) {
                return static_cast<int>(i);
            }
        }
        return kWaitTimedOut;
    }
}

bool IsHandleSignalled(NativeHandle hEvent)
{
    if (hEvent == kNoNativeHandle) {
        return false;
    }
    pollfd entry{FdOf(hEvent), POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

struct WorkerThread::Native {
    pthread_t m_hThread{};
    static void* Trampoline(void* pArg)
    {
        static_cast<WorkerThread*>(pArg)->RunBody();
        return nullptr;
    }
};

WorkerThread::WorkerThread() : m_pNative(std::make_unique<Native>()) {}

WorkerThread::~WorkerThread()
{
    Join();
}

bool WorkerThread::Start(std::function<void()> body)
{
    Join();
    m_body = std::move(body);
    if (::pthread_create(&m_pNative->m_hThread, nullptr, &Native::Trampoline, this) != 0) {
        m_body = nullptr;
        return false;
    }
    m_bJoinable = true;
    return true;
}

void WorkerThread::Join()
{
    if (m_bJoinable) {
        ::pthread_join(m_pNative->m_hThread, nullptr);
        m_bJoinable = false;
        m_body = nullptr;
    }
}

namespace {
// strerror_r comes in two flavours; take whichever this C library has.
[[maybe_unused]] const char* PickErrorText(int nResult, const char* pBuffer)
{
    return nResult == 0 ? pBuffer : "Unknown error";
}
[[maybe_unused]] const char* PickErrorText(const char* pResult, const char*)
{
    return pResult;
}
}  // namespace

std::string SystemErrorText(int nError)
{
    std::array<char, 256> buffer{};
    return PickErrorText(::strerror_r(nError, buffer.data(), buffer.size()), buffer.data());
}

}  // namespace varnis
