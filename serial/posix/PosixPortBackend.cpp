// The engine's port on a POSIX system: a terminal device driven through
// termios, ioctl() and non-blocking read() and write(), waited on with poll().
#include "serial/PortBackend.h"
#include "serial/Text.h"
#include "serial/posix/ExclusiveOpen.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace varnis {

namespace {

struct BaudEntry {
    int m_nBaud;
    speed_t m_nSpeed;
};

constexpr std::array kBaudTable{
    BaudEntry{50, B50},           BaudEntry{75, B75},           BaudEntry{110, B110},
    BaudEntry{134, B134},         BaudEntry{150, B150},         BaudEntry{200, B200},
    BaudEntry{300, B300},         BaudEntry{600, B600},         BaudEntry{1200, B1200},
    BaudEntry{1800, B1800},       BaudEntry{2400, B2400},       BaudEntry{4800, B4800},
    BaudEntry{9600, B9600},       BaudEntry{19200, B19200},     BaudEntry{38400, B38400},
    BaudEntry{57600, B57600},     BaudEntry{115200, B115200},   BaudEntry{230400, B230400},
    BaudEntry{460800, B460800},   BaudEntry{500000, B500000},   BaudEntry{576000, B576000},
    BaudEntry{921600, B921600},   BaudEntry{1000000, B1000000}, BaudEntry{1152000, B1152000},
    BaudEntry{1500000, B1500000}, BaudEntry{2000000, B2000000}, BaudEntry{2500000, B2500000},
    BaudEntry{3000000, B3000000}, BaudEntry{3500000, B3500000}, BaudEntry{4000000, B4000000},
};

bool SpeedOf(int nBaud, speed_t& nSpeed)
{
    for (const BaudEntry& entry : kBaudTable) {
        if (entry.m_nBaud == nBaud) {
            nSpeed = entry.m_nSpeed;
            return true;
        }
    }
    return false;
}

int BaudOf(speed_t nSpeed)
{
    for (const BaudEntry& entry : kBaudTable) {
        if (entry.m_nSpeed == nSpeed) {
            return entry.m_nBaud;
        }
    }
    return 0;
}

// What a line's termios says, in the terms of LineSettings.
LineSettings SettingsOf(const termios& attributes, bool bRts)
{
    LineSettings settings;
    settings.m_nBaud = BaudOf(cfgetospeed(&attributes));
    if ((attributes.c_cflag & PARENB) == 0) {
        settings.m_cParity = 'N';
    } else if ((attributes.c_cflag & CMSPAR) != 0) {
        settings.m_cParity = (attributes.c_cflag & PARODD) != 0 ? 'M' : 'S';
    } else {
        settings.m_cParity = (attributes.c_cflag & PARODD) != 0 ? 'O' : 'E';
    }
    switch (attributes.c_cflag & CSIZE) {
    case CS5: settings.m_nDataBits = 5; break;
    case CS6: settings.m_nDataBits = 6; break;
    case CS7: settings.m_nDataBits = 7; break;
    default: settings.m_nDataBits = 8; break;
    }
    settings.m_nStopBits = (attributes.c_cflag & CSTOPB) != 0 ? 2 : 1;
    settings.m_bRts = bRts;
    return settings;
}

// Raw mode with the settings of `built`.
void ApplyToAttributes(const LineSettings& built, termios& attributes)
{
    ::cfmakeraw(&attributes);
    attributes.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    attributes.c_cflag |= CLOCAL | CREAD;
    static constexpr std::array<tcflag_t, 4> kSizes{CS5, CS6, CS7, CS8};
    attributes.c_cflag |= kSizes[static_cast<std::size_t>(built.m_nDataBits - 5)];
    switch (built.m_cParity) {
    case 'E': attributes.c_cflag |= PARENB; break;
    case 'O': attributes.c_cflag |= PARENB | PARODD; break;
    case 'M': attributes.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 'S': attributes.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (built.m_nStopBits == 2) {
        attributes.c_cflag |= CSTOPB;
    }
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
}

// Failures that mean the line itself has gone (a USB adapter pulled, a
// terminal hung up), as opposed to a line that cannot do what was asked.
bool IsLineGone(int nError)
{
    return nError == EIO || nError == ENODEV || nError == ENXIO;
}

int FdOf(const EventFlag* pEvent)
{
    return pEvent != nullptr ? static_cast<int>(pEvent->Handle()) : -1;
}

class PosixPortBackend final : public PortBackend {
public:
    ~PosixPortBackend() override { Release(); }

    bool Open(const std::string& path, std::string& strReason, OpenFailure& failure) override;
    bool IsOpen() const override { return m_hComm.IsOpen() && !m_bRetired; }
    std::optional<PortFailure> Configure(const CommTimeouts& timeouts, std::uint32_t eventMask,
                                         const std::string& settingsText, LineSettings& lineState) override;
    void Purge() override { ::tcflush(m_hComm.Get(), TCIOFLUSH); }
    void Retire() override;
    void Release() override;

    WaitResult Wait(const WaitRequest& request) override;
    LineQuery QueryLine() override;
    ReadResult ReadByte() override;
    int InputWaiting() override;
    WriteResult WriteSome(std::span<const std::uint8_t> data) override;
    QueueQuery OutputQueued() override;
    void DiscardOutput() override { ::tcflush(m_hComm.Get(), TCOFLUSH); }

private:
    void LetGo();

    // Written on the owner's thread only while no monitoring thread runs
    // (Open, Release); Retire keeps the number and changes what it stands for.
    UniqueFd m_hComm;
    bool m_bRetired = false;  // owner's thread only
    // The monitoring thread's own: what the last wait saw on the line, and
    // a byte read ahead by QueryLine.
    short m_nLineEvents = 0;
    LineWatch m_eLastWatch = LineWatch::None;
    bool m_bHasReadAhead = false;
    std::uint8_t m_nReadAhead = 0;
};

bool PosixPortBackend::Open(const std::string& path, std::string& strReason, OpenFailure& failure)
{
    int nError = 0;
    pid_t nHolder = 0;
    UniqueFd hComm = OpenPortExclusive(path, nError, &nHolder);
    if (!hComm.IsOpen()) {
        failure = {nError, static_cast<long>(nHolder)};
        strReason = nError == ENOTTY        ? "not a serial line"
                    : nError == EWOULDBLOCK ? "in use (locked by another program)"
                    : nError == EBUSY       ? "in use (held by another program)"
                                            : SystemErrorText(nError);
        return false;
    }
    m_hComm = std::move(hComm);
    m_bRetired = false;
    m_bHasReadAhead = false;
    return true;
}

// The time-outs and the event mask are kept by the engine and honoured by
// its waits; what the line itself holds is its termios and RTS.
std::optional<PortFailure> PosixPortBackend::Configure(const CommTimeouts& /*timeouts*/, std::uint32_t /*eventMask*/,
                                                       const std::string& settingsText, LineSettings& lineState)
{
    const int hComm = m_hComm.Get();
    termios attributes{};
    if (::tcgetattr(hComm, &attributes) != 0) {
        return PortFailure{kStepGetCommState, errno};
    }
    lineState = SettingsOf(attributes, lineState.m_bRts);

    LineSettings built = lineState;
    built.m_bRts = true;
    if (!BuildLineSettings(settingsText, built)) {
        return PortFailure{kStepBuildCommDcb, EINVAL};
    }
    lineState = built;

    speed_t nSpeed = B0;
    if (!SpeedOf(built.m_nBaud, nSpeed)) {
        return PortFailure{kStepSetCommState, EINVAL};
    }
    ApplyToAttributes(built, attributes);
    if (::cfsetispeed(&attributes, nSpeed) != 0 || ::cfsetospeed(&attributes, nSpeed) != 0 ||
        ::tcsetattr(hComm, TCSANOW, &attributes) != 0) {
        return PortFailure{kStepSetCommState, errno};
    }
    // RTS on while the port is open. A line without modem control lines (a
    // pseudo-terminal) has no RTS to raise; that is no failure.
    const int nRts = TIOCM_RTS;
    if (::ioctl(hComm, TIOCMBIS, &nRts) != 0 && errno != ENOTTY && errno != EINVAL) {
        return PortFailure{kStepSetCommState, errno};
    }
    return std::nullopt;
}

// Gives up the exclusive use and the lock this engine holds on the device
// (the mark is ours: Open refuses a port someone else has marked). Output
// still queued (a write gave up on it) is discarded first, so the last close
// of the device does not wait out the system's closing wait for it.
void PosixPortBackend::LetGo()
{
    const int hComm = m_hComm.Get();
    int nQueued = 0;
    if (::ioctl(hComm, TIOCOUTQ, &nQueued) == 0 && nQueued > 0) {
        ::tcflush(hComm, TCOFLUSH);
    }
    ::ioctl(hComm, TIOCNXCL);
    ::flock(hComm, LOCK_UN);
}

// The descriptor's number stays valid (it now stands for /dev/null) until
// Release, so it can never be reused for another file under the monitoring
// thread's feet.
void PosixPortBackend::Retire()
{
    if (!IsOpen()) {
        return;
    }
    LetGo();
    const UniqueFd hNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (hNull.IsOpen()) {
        ::dup3(hNull.Get(), m_hComm.Get(), O_CLOEXEC);
    }
    m_bRetired = true;
}

void PosixPortBackend::Release()
{
    if (IsOpen()) {
        LetGo();
    }
    m_hComm.Reset();
    m_bRetired = false;
    m_bHasReadAhead = false;
}

WaitResult PosixPortBackend::Wait(const WaitRequest& request)
{
    const int hLine = request.m_eLine != LineWatch::None ? m_hComm.Get() : -1;
    const short nLineEvents = request.m_eLine == LineWatch::Input ? POLLIN : 0;
    m_eLastWatch = request.m_eLine;
    // Lowest slot first, in the order of WaitSlot.
    std::array<pollfd, 5> waits{{{FdOf(request.m_pStop), POLLIN, 0},
                                 {FdOf(request.m_pWake), POLLIN, 0},
                                 {hLine, nLineEvents, 0},
                                 {request.m_bWritable ? m_hComm.Get() : -1, POLLOUT, 0},
                                 {FdOf(request.m_pSend), POLLIN, 0}}};
    for (;;) {
        const int nReady = ::poll(waits.data(), waits.size(), request.m_nTimeoutMs);
        if (nReady < 0 && errno == EINTR) {
            continue;  // the time-out restarts; callers only use it as a bound
        }
        if (nReady < 0) {
            return WaitResult{WaitSlot::Failed, errno};
        }
        for (std::size_t i = 0; i < waits.size(); ++i) {
            if (waits[i].revents != 0) {
                if (i == 2) {
                    m_nLineEvents = waits[i].revents;
                }
                return WaitResult{static_cast<WaitSlot>(i), 0};
            }
        }
        return WaitResult{WaitSlot::TimedOut, 0};
    }
}

// A line that hangs up is lost once nothing is left to read from it.
LineQuery PosixPortBackend::QueryLine()
{
    const int hComm = m_hComm.Get();
    int nWaiting = 0;
    if (::ioctl(hComm, FIONREAD, &nWaiting) != 0) {
        return LineQuery{0, true, errno};
    }
    const bool bHangUp = (m_nLineEvents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (bHangUp && (nWaiting <= 0 || m_eLastWatch != LineWatch::Input)) {
        return LineQuery{0, true, (m_nLineEvents & POLLNVAL) != 0 ? EBADF : EIO};
    }
    if (nWaiting > 0 || m_bHasReadAhead) {
        return LineQuery{nWaiting + (m_bHasReadAhead ? 1 : 0), false, 0};
    }
    // Readable, yet nothing counted: either the end of the line (a read
    // gives 0) or a byte that came between the two looks.
    std::uint8_t nByte = 0;
    const ssize_t nRead = ::read(hComm, &nByte, 1);
    if (nRead < 0 && (errno == EAGAIN || errno == EINTR)) {
        return LineQuery{};
    }
    if (nRead <= 0) {
        return LineQuery{0, true, nRead == 0 ? EIO : errno};
    }
    m_bHasReadAhead = true;
    m_nReadAhead = nByte;
    return LineQuery{1, false, 0};
}

int PosixPortBackend::InputWaiting()
{
    int nWaiting = 0;
    if (::ioctl(m_hComm.Get(), FIONREAD, &nWaiting) != 0 || nWaiting < 0) {
        nWaiting = 0;
    }
    return nWaiting + (m_bHasReadAhead ? 1 : 0);
}

ReadResult PosixPortBackend::ReadByte()
{
    if (m_bHasReadAhead) {
        m_bHasReadAhead = false;
        return ReadResult{ReadOutcome::Byte, m_nReadAhead, 0};
    }
    std::uint8_t nByte = 0;
    const ssize_t nRead = ::read(m_hComm.Get(), &nByte, 1);
    if (nRead == 1) {
        return ReadResult{ReadOutcome::Byte, nByte, 0};
    }
    if (nRead < 0 && (errno == EAGAIN || errno == EINTR)) {
        return ReadResult{};  // nothing more waiting
    }
    return ReadResult{ReadOutcome::Failed, 0, nRead == 0 ? EIO : errno};
}

WriteResult PosixPortBackend::WriteSome(std::span<const std::uint8_t> data)
{
    const ssize_t nWritten = ::write(m_hComm.Get(), data.data(), data.size());
    if (nWritten > 0) {
        return WriteResult{static_cast<int>(nWritten), false, false, 0};
    }
    if (nWritten == 0 || errno == EAGAIN || errno == EINTR) {
        return WriteResult{};
    }
    const int nError = errno;
    return WriteResult{0, true, IsLineGone(nError), nError};
}

QueueQuery PosixPortBackend::OutputQueued()
{
    int nQueued = 0;
    if (::ioctl(m_hComm.Get(), TIOCOUTQ, &nQueued) != 0) {
        const int nError = errno;
        // Only a line that keeps no count cannot tell; any other failure
        // (EIO, ENODEV: the line has gone) is no empty queue.
        const bool bCannotTell = nError == ENOTTY || nError == EINVAL;
        return QueueQuery{bCannotTell ? QueueOutcome::CannotTell : QueueOutcome::Lost, 0, nError};
    }
    return QueueQuery{QueueOutcome::Known, nQueued, 0};
}

}  // namespace

std::unique_ptr<PortBackend> CreatePortBackend()
{
    return std::make_unique<PosixPortBackend>();
}

}  // namespace varnis
