#include "sim/SimLine.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varnis::simdetail {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

SimLine::SimLine(int hLine, std::function<void(const std::string&)> log)
    : m_hLine(hLine), m_hStop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_log(std::move(log))
{
}

bool SimLine::Prepare()
{
    if (!m_hStop.IsOpen() || m_hLine < 0) {
        return false;
    }
    const int nFlags = ::fcntl(m_hLine, F_GETFL);
    if (nFlags < 0 || ::fcntl(m_hLine, F_SETFL, nFlags | O_NONBLOCK) != 0) {
        return false;
    }
    std::uint64_t nDrained = 0;
    while (::read(m_hStop.Get(), &nDrained, sizeof nDrained) > 0) {
    }
    m_nInputPos = m_nInputLen = 0;
    return true;
}

void SimLine::RequestStop() const
{
    const std::uint64_t nOne = 1;
    while (::write(m_hStop.Get(), &nOne, sizeof nOne) < 0 && errno == EINTR) {
    }
}

void SimLine::WaitForStop() const
{
    pollfd pfd{m_hStop.Get(), POLLIN, 0};
    while (::poll(&pfd, 1, -1) < 0 && errno == EINTR) {
    }
}

bool SimLine::StopRequested() const
{
    pollfd pfd{m_hStop.Get(), POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0;
}

WaitResult SimLine::ReadByte(std::uint8_t& b, int nTimeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs);
    for (;;) {
        if (StopRequested()) {
            return WaitResult::Stop;
        }
        if (m_nInputPos < m_nInputLen) {
            b = m_input[m_nInputPos++];
            return WaitResult::Byte;
        }
        int nWait = -1;
        if (nTimeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            nWait = left > 0 ? static_cast<int>(left) : 0;
        }
        std::array<pollfd, 2> pfds{{{m_hStop.Get(), POLLIN, 0}, {m_hLine, POLLIN, 0}}};
        const int nReady = ::poll(pfds.data(), pfds.size(), nWait);
        if (nReady < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_log(std::string("poll on the line failed: ") + std::strerror(errno));
            return WaitResult::LineLost;
        }
        if (pfds[0].revents != 0) {
            return WaitResult::Stop;
        }
        if (nReady == 0) {
            if (nWait == 0) {
                return WaitResult::Timeout;
            }
            continue;  // woke early; the deadline decides
        }
        if ((pfds[1].revents & POLLNVAL) != 0) {
            m_log("the line is not open");
            return WaitResult::LineLost;
        }
        // Read whatever is there, also when a hang-up came with it.
        const ssize_t nRead = ::read(m_hLine, m_input.data(), m_input.size());
        if (nRead > 0) {
            m_nInputPos = 0;
            m_nInputLen = static_cast<std::size_t>(nRead);
            continue;
        }
        if (nRead < 0 && (errno == EINTR || errno == EAGAIN)) {
            if ((pfds[1].revents & (POLLHUP | POLLERR)) == 0) {
                continue;
            }
        }
        m_log(nRead == 0 ? std::string("the line hung up")
                         : std::string("the line hung up or failed: ") + std::strerror(errno));
        return WaitResult::LineLost;
    }
}

bool SimLine::Pause(int nMs) const
{
    if (nMs <= 0) {
        return !StopRequested();
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMs);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return !StopRequested();
        }
        pollfd pfd{m_hStop.Get(), POLLIN, 0};
        const int nReady = ::poll(&pfd, 1, static_cast<int>(left));
        if (nReady > 0) {
            return false;
        }
    }
}

WaitResult SimLine::Write(std::span<const std::uint8_t> bytes) const
{
    while (!bytes.empty()) {
        const ssize_t nWritten = ::write(m_hLine, bytes.data(), bytes.size());
        if (nWritten > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(nWritten));
            continue;
        }
        if (nWritten < 0 && errno == EINTR) {
            continue;
        }
        if (nWritten < 0 && errno != EAGAIN) {
            m_log(std::string("writing to the line failed: ") + std::strerror(errno));
            return WaitResult::LineLost;
        }
        std::array<pollfd, 2> pfds{{{m_hStop.Get(), POLLIN, 0}, {m_hLine, POLLOUT, 0}}};
        if (::poll(pfds.data(), pfds.size(), -1) < 0 && errno != EINTR) {
            return WaitResult::LineLost;
        }
        if (pfds[0].revents != 0) {
            return WaitResult::Stop;
        }
        if ((pfds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            m_log("the line hung up while writing");
            return WaitResult::LineLost;
        }
    }
    return WaitResult::Byte;
}

}  // namespace varnis::simdetail
