#include "serial/PtyPair.h"

#include "platform/posix/UniqueFd.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace varnis::test {

struct PtyPair::Impl {
    UniqueFd m_hMaster;
    UniqueFd m_hSlave;
    std::string m_path;
};

PtyPair::PtyPair() : m_pImpl(std::make_unique<Impl>())
{
    int hMaster = -1;
    int hSlave = -1;
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&hMaster, &hSlave, nullptr, &raw, nullptr) == 0) {
        m_pImpl->m_hMaster.Reset(hMaster);
        m_pImpl->m_hSlave.Reset(hSlave);
        ::fcntl(hMaster, F_SETFL, ::fcntl(hMaster, F_GETFL) | O_NONBLOCK);
        m_pImpl->m_path = ::ttyname(hSlave);
    }
}

PtyPair::~PtyPair() = default;

bool PtyPair::IsOpen() const
{
    return m_pImpl->m_hMaster.IsOpen();
}

const std::string& PtyPair::SlavePath() const
{
    return m_pImpl->m_path;
}

int PtyPair::Master() const
{
    return m_pImpl->m_hMaster.Get();
}

int PtyPair::Slave() const
{
    return m_pImpl->m_hSlave.Get();
}

void PtyPair::CloseMaster()
{
    m_pImpl->m_hMaster.Reset();
}

bool PtyPair::Write(const std::vector<std::uint8_t>& bytes) const
{
    return ::write(Master(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool PtyPair::Write(const std::string& text) const
{
    return Write(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string PtyPair::Read(std::size_t nCount, std::chrono::milliseconds limit) const
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < nCount) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd entry{Master(), POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        std::array<char, 256> buffer{};
        const ssize_t nRead = ::read(Master(), buffer.data(), std::min(buffer.size(), nCount - got.size()));
        if (nRead <= 0) {
            break;
        }
        got.append(buffer.data(), static_cast<std::size_t>(nRead));
    }
    return got;
}

bool PtyPair::MasterReadable() const
{
    pollfd entry{Master(), POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

int PtyPair::SlaveQueued() const
{
    int nQueued = -1;
    ::ioctl(Slave(), FIONREAD, &nQueued);
    return nQueued;
}

}  // namespace varnis::test
