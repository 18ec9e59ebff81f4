#include "serial/Fd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace varnis {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int UniqueFd::Release()
{
    const int hFd = m_hFd;
    m_hFd = -1;
    return hFd;
}

void UniqueFd::Reset(int hFd)
{
    if (m_hFd >= 0) {
        ::close(m_hFd);
    }
    m_hFd = hFd;
}

bool EventFlag::Create()
{
    m_hFd.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    return m_hFd.IsOpen();
}

void EventFlag::Set() const
{
    const std::uint64_t nOne = 1;
    // A full counter (EAGAIN) is still set, which is all that matters.
    [[maybe_unused]] const ssize_t nDone = ::write(m_hFd.Get(), &nOne, sizeof nOne);
}

void EventFlag::Reset() const
{
    std::uint64_t nValue = 0;
    [[maybe_unused]] const ssize_t nDone = ::read(m_hFd.Get(), &nValue, sizeof nValue);
}

bool EventFlag::IsSet() const
{
    if (!m_hFd.IsOpen()) {
        return false;
    }
    pollfd entry{m_hFd.Get(), POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

bool WorkerThread::Start(std::function<void()> body)
{
    Join();
    m_body = std::move(body);
    if (::pthread_create(&m_hThread, nullptr, &WorkerThread::Trampoline, this) != 0) {
        m_body = nullptr;
        return false;
    }
    m_bJoinable = true;
    return true;
}

void WorkerThread::Join()
{
    if (m_bJoinable) {
        ::pthread_join(m_hThread, nullptr);
        m_bJoinable = false;
        m_body = nullptr;
    }
}

void* WorkerThread::Trampoline(void* pArg)
{
    static_cast<WorkerThread*>(pArg)->m_body();
    return nullptr;
}

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list argsCopy;
    va_copy(argsCopy, args);
    const int nLength = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (nLength > 0) {
        text.resize(static_cast<std::size_t>(nLength) + 1);
        std::vsnprintf(text.data(), text.size(), format, argsCopy);
        text.resize(static_cast<std::size_t>(nLength));
    }
    va_end(argsCopy);
    return text;
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

int WaitForFd(int hFd, short nEvents, int hCancelFd, int nTimeoutMs, bool* pbCancelled)
{
    std::array<pollfd, 2> entries{{{hFd, nEvents, 0}, {hCancelFd, POLLIN, 0}}};
    *pbCancelled = false;
    for (;;) {
        const int nReady = ::poll(entries.data(), entries.size(), nTimeoutMs);
        if (nReady < 0 && errno == EINTR) {
            continue;  // the time-out restarts; callers only use it as a bound
        }
        if (nReady < 0) {
            return -1;
        }
        if (entries[1].revents != 0) {
            *pbCancelled = true;
            return 0;
        }
        return entries[0].revents;
    }
}

}  // namespace varnis
