#include "platform/posix/UniqueFd.h"

#include <unistd.h>

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

}  // namespace varnis
