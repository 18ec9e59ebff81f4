#include "sim/SimTestLine.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace varnis::simtest {

TestLine::TestLine(const std::string& strPath)
    : m_hFd(::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
{
    termios tio{};
    if (m_hFd.IsOpen() && ::tcgetattr(m_hFd.Get(), &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_hFd.Get(), TCSANOW, &tio);
    }
}

bool TestLine::Write(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_hFd.Get(), bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
    }
    return true;
}

bool TestLine::WriteByte(std::uint8_t b)
{
    const std::array<std::uint8_t, 1> one{b};
    return Write(one);
}

std::vector<std::uint8_t> TestLine::Read(std::size_t nCount, std::chrono::milliseconds limit)
{
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < nCount) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd pfd{m_hFd.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        if ((pfd.revents & POLLIN) == 0) {
            break;  // hung up with nothing to read
        }
        std::array<std::uint8_t, 1> one{};
        const ssize_t n = ::read(m_hFd.Get(), one.data(), 1);  // one at a time: never more than asked for
        if (n == 1) {
            bytes.push_back(one[0]);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
    }
    return bytes;
}

bool TestLine::StaysQuiet(std::chrono::milliseconds span)
{
    return Read(1, span).empty();
}

bool TestLine::SeesHangUp(std::chrono::milliseconds limit)
{
    pollfd pfd{m_hFd.Get(), POLLIN, 0};
    return ::poll(&pfd, 1, static_cast<int>(limit.count())) > 0 && (pfd.revents & POLLHUP) != 0;
}

ConfigurationFrame DefaultConfigurationFrame()
{
    ConfigurationFrame frame{0xAA, 0x20, 0x15, 0x01, 0x02, 0x00, 0x00, 0x00,  // UID, Wiegand 26, sector, block, KEY A
                             0xA5, 0xC3, 0x0F, 0x7E, 0x9B, 0x12,              // key
                             0x40, 0x00, 0x28, 0x08, 0xAA,                    // range, LSB first, timing, unlocked
                             0x47, 0x15, 0x02, 0x63, 0x00,                    // password, protection off
                             0x00, 0x03};
    std::uint8_t nCheck = 0;
    for (std::size_t i = 0; i < 24; ++i) {
        nCheck ^= frame[i];
    }
    frame[24] = nCheck;
    return frame;
}

}  // namespace varnis::simtest
