#include "platform/InputBytes.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varnis::console {

struct InputBytes::Impl {
    int m_hInput;
    int m_hCancel;
};

InputBytes::InputBytes(int nFd) : m_pImpl(std::make_unique<Impl>(Impl{nFd, ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)}))
{
}

InputBytes::~InputBytes()
{
    if (m_pImpl->m_hCancel >= 0) {
        ::close(m_pImpl->m_hCancel);
    }
}

bool InputBytes::IsUsable() const
{
    return m_pImpl->m_hCancel >= 0;
}

void InputBytes::Cancel()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_pImpl->m_hCancel, &one, sizeof one);
}

void InputBytes::Rearm()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t r = ::read(m_pImpl->m_hCancel, &count, sizeof count);
}

InputBytes::Got InputBytes::Next(char& c)
{
    for (;;) {
        std::array<pollfd, 2> fds{{{m_pImpl->m_hInput, POLLIN, 0}, {m_pImpl->m_hCancel, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Got::End;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return Got::Cancelled;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const ssize_t n = ::read(m_pImpl->m_hInput, &c, 1);
        if (n == 1) {
            return Got::Byte;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        return Got::End;
    }
}

}  // namespace varnis::console
