#include "serial/SerialPort.h"

#include "serial/PortDiagnosis.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

namespace varnis {

namespace {

constexpr const char* kErrorCaption = "Application Error";
constexpr int kPurgeAll = TCIOFLUSH;  // aborts nothing in flight here; discards both queues

// Broken preconditions: fatal in debug builds; in release builds the call is
// refused instead of running on with a bad value.
void PreconditionFailed(const char* text)
{
#ifndef NDEBUG
    const std::string message = FormatText("Assertion failed: %s, file SerialPort\n", text);
    [[maybe_unused]] const ssize_t nDone = ::write(STDERR_FILENO, message.data(), message.size());
    std::abort();
#else
    Trace(FormatText("Precondition failed: %s, file SerialPort; call ignored\n", text));
#endif
}

struct BaudEntry {
    int m_nBaud;
    speed_t m_nSpeed;
};

constexpr std::array kBaudTable{
    BaudEntry{50, B50},         BaudEntry{75, B75},           BaudEntry{110, B110},         BaudEntry{134, B134},
    BaudEntry{150, B150},       BaudEntry{200, B200},         BaudEntry{300, B300},         BaudEntry{600, B600},
    BaudEntry{1200, B1200},     BaudEntry{1800, B1800},       BaudEntry{2400, B2400},       BaudEntry{4800, B4800},
    BaudEntry{9600, B9600},     BaudEntry{19200, B19200},     BaudEntry{38400, B38400},     BaudEntry{57600, B57600},
    BaudEntry{115200, B115200}, BaudEntry{230400, B230400},   BaudEntry{460800, B460800},   BaudEntry{500000, B500000},
    BaudEntry{576000, B576000}, BaudEntry{921600, B921600},   BaudEntry{1000000, B1000000}, BaudEntry{1152000, B1152000},
    BaudEntry{1500000, B1500000}, BaudEntry{2000000, B2000000}, BaudEntry{2500000, B2500000}, BaudEntry{3000000, B3000000},
    BaudEntry{3500000, B3500000}, BaudEntry{4000000, B4000000},
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

bool ParseInt(const std::string& text, int& nValue)
{
    if (text.empty() || text.size() > 9) {
        return false;
    }
    int nResult = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        nResult = nResult * 10 + (c - '0');
    }
    nValue = nResult;
    return true;
}

std::string Lowered(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

bool BuildLineSettings(const std::string& text, LineSettings& settings)
{
    LineSettings built = settings;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const std::size_t nEquals = word.find('=');
        if (nEquals == std::string::npos) {
            return false;
        }
        const std::string key = Lowered(word.substr(0, nEquals));
        const std::string value = word.substr(nEquals + 1);
        int nValue = 0;
        if (key == "baud") {
            if (!ParseInt(value, nValue) || nValue <= 0) {
                return false;
            }
            built.m_nBaud = nValue;
        } else if (key == "parity") {
            const char cParity = value.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(value[0]))) : '?';
            if (std::strchr("NEOMS", cParity) == nullptr || cParity == '\0') {
                return false;
            }
            built.m_cParity = cParity;
        } else if (key == "data") {
            if (!ParseInt(value, nValue) || nValue < 5 || nValue > 8) {
                return false;
            }
            built.m_nDataBits = nValue;
        } else if (key == "stop") {
            if (!ParseInt(value, nValue) || (nValue != 1 && nValue != 2)) {
                return false;
            }
            built.m_nStopBits = nValue;
        } else {
            return false;
        }
    }
    settings = built;
    return true;
}

int WaitForOutputDrained(const std::function<int()>& queued, int nBaud, std::chrono::steady_clock::time_point deadline,
                         int hCancelFd)
{
    using Clock = std::chrono::steady_clock;
    const long long nBitsPerSecond = nBaud > 0 ? nBaud : 9600;
    for (;;) {
        const int nQueued = queued();
        if (nQueued <= 0) {
            return 0;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return nQueued;
        }
        // Ten bits a byte on the line (start, eight data, stop), at least 1 ms.
        const long long nNeedMs = std::max<long long>(1, (nQueued * 10LL * 1000 + nBitsPerSecond - 1) / nBitsPerSecond);
        bool bCancelled = false;
        const int nReady = WaitForFd(hCancelFd, POLLIN, -1, static_cast<int>(std::min<long long>(nNeedMs, left)),
                                     &bCancelled);
        if (nReady != 0) {
            return std::max(queued(), 0);  // cancelled, or the wait failed: one last look
        }
    }
}

SerialPort::SerialPort() = default;

SerialPort::~SerialPort()
{
    RequestStop();
    StopMonitorThread(false);
    ReleasePort();
    Trace("Thread ended\n");
}

void SerialPort::SetPortTable(const PortTable& table)
{
    m_portTable = table;
}

void SerialPort::SetErrorReporter(IErrorReporter* pReporter)
{
    m_pReporter.store(pReporter);
}

// Set on the owner's thread; from this moment no notification of the line
// starts on the owner's thread (see HandOverChannel), whether or not the
// monitoring thread has woken up yet.
void SerialPort::RequestStop()
{
    m_bStopRequested.store(true);
    if (m_hStopEvent.IsCreated()) {
        m_hStopEvent.Set();
    }
}

void SerialPort::StopMonitorThread(bool bTraceEnd)
{
    const bool bWasAlive = m_bMonitorAlive.load();
    RequestStop();
    if (!m_pMonitorThread) {
        return;
    }
    // Every wait of the thread includes the stop event, so this join is short.
    m_pMonitorThread->Join();
    m_pMonitorThread.reset();
    m_hRetiredComm.Reset();
    if (bWasAlive && bTraceEnd) {
        Trace("Thread ended\n");
    }
}

// Lets go of the device at once. While a monitoring thread may still be
// inside poll() or read() on the descriptor, its number stays valid (it now
// stands for /dev/null) until the thread has ended, so it can never be
// reused for another file under the thread's feet.
void SerialPort::ReleasePort()
{
    if (!m_hComm.IsOpen()) {
        return;
    }
    ::ioctl(m_hComm.Get(), TIOCNXCL);
    ::flock(m_hComm.Get(), LOCK_UN);
    if (!m_pMonitorThread) {
        m_hComm.Reset();
        return;
    }
    const UniqueFd hNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (hNull.IsOpen()) {
        ::dup3(hNull.Get(), m_hComm.Get(), O_CLOEXEC);
    }
    m_hRetiredComm = std::move(m_hComm);
}

bool SerialPort::Initialise(ISerialOwner* pPortOwner, unsigned portnr, int baud, char parity, int databits,
                            int stopbits, std::uint32_t eventMask, int sendBufferSize)
{
    if (!(portnr > 0 && portnr < 11)) {
        PreconditionFailed("portnr > 0 && portnr < 11");
        return false;
    }
    if (pPortOwner == nullptr) {
        PreconditionFailed("pPortOwner != NULL");
        return false;
    }

    // The old line stops here, on the owner's thread: none of its
    // notifications runs any more, even before its thread has ended.
    StopMonitorThread(true);

    for (EventFlag* pEvent : {&m_hSendEvent, &m_hStopEvent, &m_hWakeEvent}) {
        if (pEvent->IsCreated()) {
            pEvent->Reset();
        } else if (!pEvent->Create()) {
            return false;
        }
    }
    m_bStopRequested.store(false);
    m_nSuspendCount.store(0);

    m_pNotifyWnd = pPortOwner;
    {
        const std::lock_guard sendLock(m_csSend);
        m_pSendBuffer.assign(static_cast<std::size_t>(std::max(sendBufferSize, 0)), 0);
        m_nSendLength = 0;
    }
    m_nPortNumber = portnr;
    m_nSendBufferSize = sendBufferSize;
    m_dwEventMask = eventMask;

    const std::string settingsText =
        FormatText("baud=%d parity=%c data=%d stop=%d", baud, parity, databits, stopbits);
    const std::string path = m_portTable ? m_portTable->PathOf(portnr) : PortTable::FromSystem().PathOf(portnr);

    // Under the port lock only what touches the port; what goes out of the
    // engine (the trace, an error report and the box that shows it, with the
    // owner's handlers running inside it) comes after the lock is released.
    std::string skipped;
    std::optional<PortFailure> failure;
    {
        const std::lock_guard lock(m_csPort);
        ReleasePort();
        if (path.empty()) {
            return false;
        }
        int nError = 0;
        UniqueFd hComm = OpenPortExclusive(path, nError);
        if (!hComm.IsOpen()) {
            skipped = nError == ENOTTY        ? "not a serial line"
                      : nError == EWOULDBLOCK ? "in use (locked by another program)"
                                              : SystemErrorText(nError);
        } else {
            m_hComm = std::move(hComm);
            failure = ConfigurePort(settingsText);
            ::tcflush(m_hComm.Get(), kPurgeAll);
        }
    }
    if (!skipped.empty()) {
        // Skipped without a box; the trace says why (no permission, gone, ...).
        Trace(FormatText("Cannot open %s: %s\n", path.c_str(), skipped.c_str()));
        return false;
    }
    Trace(FormatText("Initialisation for communicationport %d completed.\nUse Startmonitor to communicate.\n",
                     static_cast<int>(portnr)));
    if (failure) {
        // The owner may run any handler inside the report, this engine's
        // Initialise, Send or Close included; nothing here is touched after it.
        ReportError(failure->m_label, failure->m_nError, CancelSignal{});
    }
    return true;
}

// Applies time-outs, event mask and line settings, stopping at the first
// step that fails; the port stays open either way. The failure is returned
// for the caller to report once it holds no lock.
std::optional<SerialPort::PortFailure> SerialPort::ConfigurePort(const std::string& settingsText)
{
    const int hComm = m_hComm.Get();

    m_timeouts = CommTimeouts{1000, 1000, 1000, 1000, 1000};

    termios attributes{};
    if (::tcgetattr(hComm, &attributes) != 0) {
        return PortFailure{"GetCommState()", errno};
    }
    m_lineState = SettingsOf(attributes, m_lineState.m_bRts);

    LineSettings built = m_lineState;
    built.m_bRts = true;
    if (!BuildLineSettings(settingsText, built)) {
        return PortFailure{"BuildCommDCB()", EINVAL};
    }
    m_lineState = built;

    speed_t nSpeed = B0;
    if (!SpeedOf(built.m_nBaud, nSpeed)) {
        return PortFailure{"SetCommState()", EINVAL};
    }
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
    if (::cfsetispeed(&attributes, nSpeed) != 0 || ::cfsetospeed(&attributes, nSpeed) != 0 ||
        ::tcsetattr(hComm, TCSANOW, &attributes) != 0) {
        return PortFailure{"SetCommState()", errno};
    }
    // RTS on while the port is open. A line without modem control lines (a
    // pseudo-terminal) has no RTS to raise; that is no failure.
    const int nRts = TIOCM_RTS;
    if (::ioctl(hComm, TIOCMBIS, &nRts) != 0 && errno != ENOTTY && errno != EINVAL) {
        return PortFailure{"SetCommState()", errno};
    }
    return std::nullopt;
}

bool SerialPort::StartMonitor()
{
    if (m_pMonitorThread && m_bMonitorAlive.load()) {
        return true;  // one thread per engine: a second one would race the first on the port
    }
    if (m_pMonitorThread) {
        m_pMonitorThread->Join();  // it has served its stop request already
        m_pMonitorThread.reset();
        m_hRetiredComm.Reset();
    }
    if (!m_hStopEvent.IsCreated() || m_pNotifyWnd == nullptr) {
        return false;  // never initialised
    }
    auto pThread = std::make_unique<WorkerThread>();
    const int hComm = m_hComm.Get();
    // The purge the thread starts with is done here, before it runs: a byte
    // that arrives once StartMonitor has returned is never discarded by a
    // thread that happened to start late.
    if (hComm >= 0) {
        const std::lock_guard lock(m_csPort);
        ::tcflush(hComm, kPurgeAll);
    }
    m_bMonitorAlive.store(true);
    if (!pThread->Start([this, hComm]() { MonitorThread(hComm); })) {
        m_bMonitorAlive.store(false);
        return false;
    }
    m_pMonitorThread = std::move(pThread);
    Trace("Thread started\n");
    return true;
}

// POSIX threads cannot be suspended from outside; the thread honours a pause
// at its wait instead: while suspended it neither notifies nor writes, and
// waits for stop or resume only.
bool SerialPort::SuspendMonitor()
{
    Trace("Thread suspended\n");
    m_nSuspendCount.fetch_add(1);
    if (m_hWakeEvent.IsCreated()) {
        m_hWakeEvent.Set();
    }
    return true;
}

bool SerialPort::ResumeMonitor()
{
    Trace("Thread resumed\n");
    int nCount = m_nSuspendCount.load();
    while (nCount > 0 && !m_nSuspendCount.compare_exchange_weak(nCount, nCount - 1)) {
    }
    if (m_hWakeEvent.IsCreated()) {
        m_hWakeEvent.Set();
    }
    return true;
}

void SerialPort::Send(const char* text)
{
    if (!m_hComm.IsOpen()) {
        PreconditionFailed("m_hComm != 0");
        return;
    }
    const std::size_t nLength = text == nullptr ? 0 : std::strlen(text);
    // The text goes in with its terminator, so it needs one byte more.
    if (text == nullptr || nLength + 1 > static_cast<std::size_t>(std::max(m_nSendBufferSize, 0))) {
        Trace(FormatText("WARNING: Send() refused.. Message Length: %zu; Send Buffer Size: %d\n", nLength,
                         m_nSendBufferSize));
        return;
    }
    // The request is raised under the same lock as the copy: the thread
    // takes both together, so each Send is written once and the last one's
    // data is what goes out.
    const std::lock_guard lock(m_csSend);
    std::memcpy(m_pSendBuffer.data(), text, nLength + 1);
    m_nSendLength = static_cast<int>(nLength);
    m_hSendEvent.Set();
}

void SerialPort::Send(std::span<const std::uint8_t> data)
{
    if (!m_hComm.IsOpen()) {
        PreconditionFailed("m_hComm != 0");
        return;
    }
    // More than the buffer holds is refused whole: a cut message would be
    // a different message on the line.
    if (data.size() > static_cast<std::size_t>(std::max(m_nSendBufferSize, 0))) {
        Trace(FormatText("WARNING: Send() refused.. Message Length: %zu; Send Buffer Size: %d\n", data.size(),
                         m_nSendBufferSize));
        return;
    }
    const std::lock_guard lock(m_csSend);
    std::copy(data.begin(), data.end(), m_pSendBuffer.begin());
    m_nSendLength = static_cast<int>(data.size());
    m_hSendEvent.Set();
}

bool SerialPort::Close()
{
    RequestStop();
    ReleasePort();
    return true;
}

LineSettings SerialPort::GetLineSettings() const
{
    return m_lineState;
}

std::uint32_t SerialPort::GetEventMask() const
{
    return m_dwEventMask;
}

int SerialPort::GetSendBufferSize() const
{
    return m_nSendBufferSize;
}

bool SerialPort::IsMonitorAlive() const
{
    return m_bMonitorAlive.load();
}

void SerialPort::ReportError(const char* label, int nError, const CancelSignal& cancel) const
{
    const std::string text = FormatText("WARNING:  %s Failed with the following error: \n%s\nPort: %d\n", label,
                                        SystemErrorText(nError).c_str(), static_cast<int>(m_nPortNumber));
    if (IErrorReporter* pReporter = m_pReporter.load()) {
        pReporter->ReportError(text, kErrorCaption, cancel);
        return;
    }
    [[maybe_unused]] const ssize_t nDone = ::write(STDERR_FILENO, text.data(), text.size());
}

bool SerialPort::Notify(std::uint32_t nMessage, std::uint32_t nWParam)
{
    const SerialNotification notification{nMessage, nWParam, m_nPortNumber};
    m_pNotifyWnd->DeliverNotification(notification, StopSignal());
    return !IsStopRequested();
}

// The monitoring thread. It owns no descriptor: `hComm` stays valid until
// the thread has been joined (see ReleasePort). Every wait in here includes
// the stop event, and nothing loops without waiting.
void SerialPort::MonitorThread(int hComm)
{
    m_bMonitorAlive.store(true);
    // Bytes are read only when their arrival is monitored; otherwise they
    // stay queued and only a hang-up of the line wakes the thread.
    const short nLineEvents = (m_dwEventMask & EV_RXCHAR) != 0 ? POLLIN : 0;
    bool bWatchLine = hComm >= 0;
    for (;;) {
        const bool bSuspended = IsSuspended();
        // Lowest slot first: stop, line, send; then the suspend/resume wake-up.
        std::array<pollfd, 4> waits{{{m_hStopEvent.Fd(), POLLIN, 0},
                                     {bWatchLine && !bSuspended ? hComm : -1, nLineEvents, 0},
                                     {bSuspended ? -1 : m_hSendEvent.Fd(), POLLIN, 0},
                                     {m_hWakeEvent.Fd(), POLLIN, 0}}};
        const int nReady = ::poll(waits.data(), waits.size(), -1);
        if (nReady < 0) {
            if (errno == EINTR) {
                continue;
            }
            ReportError("WaitCommEvent()", errno, StopSignal());
            bool bStopped = false;
            WaitForFd(m_hStopEvent.Fd(), POLLIN, -1, -1, &bStopped);
            break;
        }
        if (waits[0].revents != 0) {
            break;
        }
        if (waits[3].revents != 0) {
            m_hWakeEvent.Reset();
            continue;
        }
        if (waits[1].revents != 0) {
            ServeLine(hComm, waits[1].revents, bWatchLine);
            continue;
        }
        if (waits[2].revents != 0) {
            SendPending(hComm);
        }
    }
    m_bMonitorAlive.store(false);
}

// Line activity: the notifications of the monitored events, then the drain.
// A line that hangs up is reported once and then no longer watched.
void SerialPort::ServeLine(int hComm, short nRevents, bool& bWatchLine)
{
    const CancelSignal cancel = StopSignal();
    if (IsSuspended()) {
        return;
    }
    int nWaiting = 0;
    int nQueryError = 0;
    {
        const std::lock_guard lock(m_csPort);
        if (::ioctl(hComm, FIONREAD, &nWaiting) != 0) {
            nQueryError = errno;
        }
    }
    if (IsStopRequested()) {
        return;  // closed under us: the stop is served next
    }
    const bool bReading = (m_dwEventMask & EV_RXCHAR) != 0;
    const bool bHangUp = (nRevents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (nQueryError != 0 || (bHangUp && (nWaiting <= 0 || !bReading))) {
        bWatchLine = false;
        const int nError = nQueryError != 0 ? nQueryError : ((nRevents & POLLNVAL) != 0 ? EBADF : EIO);
        ReportError("WaitCommEvent()", nError, cancel);
        return;
    }
    std::optional<std::uint8_t> firstByte;
    if (nWaiting <= 0) {
        // Readable, yet nothing counted: either the end of the line (a read
        // gives 0) or a byte that came between the two looks.
        std::uint8_t nByte = 0;
        ssize_t nRead = 0;
        int nReadError = 0;
        {
            const std::lock_guard lock(m_csPort);
            nRead = ::read(hComm, &nByte, 1);
            nReadError = errno;
        }
        if (nRead < 0 && (nReadError == EAGAIN || nReadError == EINTR)) {
            return;
        }
        if (nRead <= 0) {
            bWatchLine = false;
            ReportError("WaitCommEvent()", nRead == 0 ? EIO : nReadError, cancel);
            return;
        }
        firstByte = nByte;
    }

    static constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 5> kLineEvents{{
        {EV_CTS, SPN_CTS},
        {EV_RXFLAG, SPN_EVENT_CHAR},
        {EV_BREAK, SPN_BREAK},
        {EV_ERR, SPN_LINE_ERROR},
        {EV_RING, SPN_RING},
    }};
    for (const auto& [nBit, nMessage] : kLineEvents) {
        if ((m_dwEventMask & nBit) != 0 && !Notify(nMessage, 0)) {
            return;
        }
    }
    if (firstByte && !Notify(SPN_RXCHAR, *firstByte)) {
        return;
    }
    ReceivePending(hComm, bWatchLine);
}

// Reads and notifies every waiting byte, one at a time, in order. Bytes that
// arrive while the owner handles one belong to the same drain. The drain
// ends on an empty queue, a stop, a pause, or a failed read (which sends no
// notification and is reported once: the line is then no longer watched).
// The read itself tells whether a byte is waiting: a non-blocking read of an
// empty queue says so at once, and costs one system call instead of two.
void SerialPort::ReceivePending(int hComm, bool& bWatchLine)
{
    const CancelSignal cancel = StopSignal();
    for (;;) {
        if (IsStopRequested() || IsSuspended()) {
            return;
        }
        std::uint8_t nByte = 0;
        ssize_t nRead = 0;
        int nError = 0;
        {
            const std::lock_guard lock(m_csPort);
            nRead = ::read(hComm, &nByte, 1);
            nError = errno;
        }
        if (nRead == 1) {
            if (!Notify(SPN_RXCHAR, nByte)) {
                return;
            }
            continue;
        }
        if (nRead < 0 && (nError == EAGAIN || nError == EINTR)) {
            return;  // nothing more waiting
        }
        if (IsStopRequested()) {
            return;  // the port was closed under the drain
        }
        bWatchLine = false;
        ReportError("ReadFile()", nRead == 0 ? EIO : nError, cancel);
        return;
    }
}

// Writes the send buffer once: purge, then a counted write within the write
// time-outs. The buffer is copied under its own lock first, so Send on the
// owner's thread neither overlaps the write nor waits for it.
void SerialPort::SendPending(int hComm)
{
    if (IsSuspended()) {
        return;  // the request stays set and is served after resume
    }
    {
        // Taking the request and its data is one step: a Send that comes
        // after it raises the request again with new data, never the same.
        const std::lock_guard sendLock(m_csSend);
        m_hSendEvent.Reset();
        m_writeCopy.assign(m_pSendBuffer.begin(), m_pSendBuffer.begin() + m_nSendLength);
    }
    const int nLength = static_cast<int>(m_writeCopy.size());
    int nSent = 0;
    const char* failedLabel = nullptr;
    int nError = 0;
    {
        const std::lock_guard lock(m_csPort);
        ::tcflush(hComm, kPurgeAll);
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(static_cast<long long>(m_timeouts.m_nWriteTotalTimeoutMultiplier) *
                                                         nLength +
                                                     m_timeouts.m_nWriteTotalTimeoutConstant);
        while (nSent < nLength) {
            const ssize_t nWritten =
                ::write(hComm, m_writeCopy.data() + nSent, static_cast<std::size_t>(nLength - nSent));
            if (nWritten > 0) {
                nSent += static_cast<int>(nWritten);
                continue;
            }
            if (nWritten < 0 && errno == EINTR) {
                continue;
            }
            if (nWritten < 0 && errno != EAGAIN) {
                failedLabel = "WriteFile()";
                nError = errno;
                nSent = 0;
                break;
            }
            const auto remaining =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (remaining <= 0) {
                break;  // written what the time-outs allow
            }
            bool bCancelled = false;
            const int nReadyEvents =
                WaitForFd(hComm, POLLOUT, m_hStopEvent.Fd(), static_cast<int>(remaining), &bCancelled);
            if (nReadyEvents < 0) {
                failedLabel = "GetOverlappedResults() in WriteFile()";
                nError = errno;
                break;
            }
            if (bCancelled || nReadyEvents == 0) {
                break;
            }
        }
        if (failedLabel == nullptr && nSent == nLength && nLength > 0) {
            // Finished once the bytes have left the line: the next purge
            // must never cut our own message short on a real UART.
            nSent -= WaitForOutputDrained(
                [hComm]() {
                    int nQueued = 0;
                    return ::ioctl(hComm, TIOCOUTQ, &nQueued) == 0 ? nQueued : -1;
                },
                m_lineState.m_nBaud, deadline, m_hStopEvent.Fd());
        }
    }
    if (failedLabel != nullptr) {
        ReportError(failedLabel, nError, StopSignal());
    }
    if (nSent != nLength) {
        Trace(FormatText("WARNING: WriteFile() error.. Bytes Sent: %d; Message Length: %d\n", nSent, nLength));
    }
}

}  // namespace varnis
