#include "sim/SimDevice.h"

#include "config/FrameDecoder.h"

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <span>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace varnis {

std::array<std::uint8_t, 5> SimReplyFrame(std::uint8_t nStatus)
{
    const std::uint8_t nLength = 0x00;
    return {kFrameStart, nStatus, nLength, static_cast<std::uint8_t>(kFrameStart ^ nStatus ^ nLength), kFrameEnd};
}

namespace {

using Clock = std::chrono::steady_clock;

std::string HexBytes(std::span<const std::uint8_t> bytes)
{
    std::string str;
    str.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        std::array<char, 4> buf{};
        std::snprintf(buf.data(), buf.size(), "%02X", b);
        if (!str.empty()) {
            str += ' ';
        }
        str += buf.data();
    }
    return str;
}

std::string HexByte(std::uint8_t b)
{
    const std::array<std::uint8_t, 1> one{b};
    return "0x" + HexBytes(one);
}

// What one wait on the line ended with.
enum class WaitResult : std::uint8_t { Byte, Timeout, Stop, LineLost };

constexpr std::size_t kMinFrameSize = 5;  // start, command, length, check, end

}  // namespace

struct SimDevice::Impl {
    explicit Impl(int hFd, const SimBehaviour& behaviour) : m_hLine(hFd), m_behaviour(behaviour) {}

    const int m_hLine;
    simdetail::OwnedFd m_hStop{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cvExchanges;
    SimBehaviour m_behaviour;
    std::vector<SimExchange> m_exchanges;
    std::size_t m_nProbesAnswered = 0;
    bool m_bLineLost = false;
    std::function<void()> m_hangUpHandler;
    std::function<void()> m_lineLostHandler;

    std::mutex m_logMutex;
    std::function<void(std::string_view)> m_logger;

    // Bytes read from the line and not yet handled (device thread only).
    std::array<std::uint8_t, 256> m_input{};
    std::size_t m_nInputPos = 0;
    std::size_t m_nInputLen = 0;

    void Log(const std::string& strLine)
    {
        const std::lock_guard lock(m_logMutex);
        if (m_logger) {
            m_logger(strLine);
        }
    }

    SimBehaviour Snapshot() const
    {
        const std::lock_guard lock(m_mutex);
        return m_behaviour;
    }

    bool StopRequested() const
    {
        pollfd pfd{m_hStop.Get(), POLLIN, 0};
        return ::poll(&pfd, 1, 0) > 0;
    }

    // Waits up to nTimeoutMs (negative: without limit) for a byte or a stop request.
    WaitResult ReadByte(std::uint8_t& b, int nTimeoutMs)
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
                Log(std::string("poll on the line failed: ") + std::strerror(errno));
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
                Log("the line is not open");
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
            Log(nRead == 0 ? std::string("the line hung up")
                           : std::string("the line hung up or failed: ") + std::strerror(errno));
            return WaitResult::LineLost;
        }
    }

    // Waits nMs unless a stop comes first; bytes that arrive meanwhile stay queued.
    bool Pause(int nMs)
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

    // Writes every byte unless a stop comes first or the line fails.
    WaitResult Write(std::span<const std::uint8_t> bytes)
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
                Log(std::string("writing to the line failed: ") + std::strerror(errno));
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
                Log("the line hung up while writing");
                return WaitResult::LineLost;
            }
        }
        return WaitResult::Byte;
    }

    void LoseLine()
    {
        std::function<void()> handler;
        {
            const std::lock_guard lock(m_mutex);
            m_bLineLost = true;
            handler = m_lineLostHandler;
        }
        Log("no longer serving the line");
        if (handler) {
            handler();
        }
        // Nothing more to do on the line: wait for the stop request only.
        pollfd pfd{m_hStop.Get(), POLLIN, 0};
        while (::poll(&pfd, 1, -1) < 0 && errno == EINTR) {
        }
    }

    void UpdateExchange(std::size_t nIndex, bool bAnnounced, bool bReplySent)
    {
        const std::lock_guard lock(m_mutex);
        m_exchanges[nIndex].m_bAnnounced = bAnnounced;
        m_exchanges[nIndex].m_bReplySent = bReplySent;
    }

    WaitResult AnswerStx(const SimBehaviour& behaviour)
    {
        const bool bLate = behaviour.m_eFault == SimFault::AckTooLate;
        const int nDelay = bLate ? behaviour.m_nLateAckMs : behaviour.m_nAckDelayMs;
        if (!Pause(nDelay)) {
            return WaitResult::Stop;
        }
        // Counted before the ACK goes out, so that whoever has received it
        // finds it counted; taken back if it could not be written.
        {
            const std::lock_guard lock(m_mutex);
            ++m_nProbesAnswered;
        }
        const std::array<std::uint8_t, 1> ack{kAck};
        const WaitResult result = Write(ack);
        if (result == WaitResult::Byte) {
            Log("STX received, answered ACK" + (nDelay > 0 ? " after " + std::to_string(nDelay) + " ms" : std::string()));
        } else {
            const std::lock_guard lock(m_mutex);
            --m_nProbesAnswered;
        }
        return result;
    }

    // Collects the rest of a frame whose start byte has been read.
    WaitResult CollectFrame(const SimBehaviour& behaviour, std::vector<std::uint8_t>& frame, bool& bComplete)
    {
        frame.assign(1, kFrameStart);
        bComplete = false;
        std::size_t nExpected = kMinFrameSize;
        while (frame.size() < nExpected) {
            std::uint8_t b = 0;
            const WaitResult result = ReadByte(b, behaviour.m_nFrameByteTimeoutMs);
            if (result == WaitResult::Timeout) {
                return WaitResult::Byte;  // incomplete
            }
            if (result != WaitResult::Byte) {
                return result;
            }
            frame.push_back(b);
            if (frame.size() == 3) {
                nExpected = kMinFrameSize + b;  // the length byte counts the data bytes
            }
        }
        bComplete = true;
        return WaitResult::Byte;
    }

    std::size_t Record(SimExchange exchange)
    {
        const std::lock_guard lock(m_mutex);
        m_exchanges.push_back(std::move(exchange));
        m_cvExchanges.notify_all();
        return m_exchanges.size() - 1;
    }

    void LogLines(const std::string& strPrefix, const std::string& strText)
    {
        std::size_t nStart = 0;
        while (nStart < strText.size()) {
            std::size_t nEnd = strText.find('\n', nStart);
            if (nEnd == std::string::npos) {
                nEnd = strText.size();
            }
            if (nEnd > nStart) {
                Log(strPrefix + strText.substr(nStart, nEnd - nStart));
            }
            nStart = nEnd + 1;
        }
    }

    // One exchange from the start byte on.
    WaitResult HandleFrame(const SimBehaviour& behaviour)
    {
        SimExchange exchange;
        bool bComplete = false;
        const WaitResult collected = CollectFrame(behaviour, exchange.m_frame, bComplete);
        if (collected != WaitResult::Byte) {
            if (!exchange.m_frame.empty() && collected == WaitResult::LineLost) {
                Log("partial frame when the line went: " + HexBytes(exchange.m_frame));
            }
            return collected;
        }
        const std::size_t nNumber = ExchangeCount() + 1;
        Log("exchange " + std::to_string(nNumber) + ": frame received (" + std::to_string(exchange.m_frame.size()) +
            " bytes): " + HexBytes(exchange.m_frame));
        if (!bComplete) {
            exchange.m_strDescription = "incomplete frame: " + std::to_string(exchange.m_frame.size()) +
                                        " bytes, then silence for " +
                                        std::to_string(behaviour.m_nFrameByteTimeoutMs) + " ms";
        } else {
            DecodedConfiguration config;
            std::string strReason;
            if (DecodeConfigurationFrame(exchange.m_frame, config, strReason)) {
                exchange.m_bValid = true;
                exchange.m_strDescription = DescribeConfiguration(config);
            } else {
                exchange.m_strDescription = strReason.empty() ? std::string("not a configuration frame") : strReason;
            }
        }
        exchange.m_nReplyStatus = exchange.m_bValid ? behaviour.m_nResultStatus : kSimStatusFrameRefused;
        if (exchange.m_bValid) {
            Log("exchange " + std::to_string(nNumber) + ": the card would carry:");
            LogLines("    ", exchange.m_strDescription);
        } else {
            Log("exchange " + std::to_string(nNumber) + ": frame refused: " + exchange.m_strDescription);
        }
        const std::uint8_t nStatus = exchange.m_nReplyStatus;
        const bool bValid = exchange.m_bValid;
        const std::size_t nIndex = Record(std::move(exchange));

        if (behaviour.m_eFault == SimFault::HangUpMidExchange) {
            std::function<void()> hangUp;
            {
                const std::lock_guard lock(m_mutex);
                hangUp = m_hangUpHandler;
            }
            Log("hanging up in the middle of the exchange");
            if (hangUp) {
                hangUp();
            }
            return WaitResult::LineLost;
        }
        if (bValid) {
            if (behaviour.m_nCardWriteMs > 0) {
                Log("writing the card (" + std::to_string(behaviour.m_nCardWriteMs) + " ms)");
            }
            if (!Pause(behaviour.m_nCardWriteMs)) {
                return WaitResult::Stop;
            }
        }
        if (behaviour.m_eFault == SimFault::NeverAnnounces) {
            Log("not announcing the result (fault)");
            return WaitResult::Byte;
        }
        const bool bNoise = behaviour.m_eFault == SimFault::Noise;
        if (bNoise) {
            Log("noise: " + HexBytes(kSimNoiseBeforeStx));
            if (const WaitResult result = Write(kSimNoiseBeforeStx); result != WaitResult::Byte) {
                return result;
            }
        }
        // As with the ACK above: recorded before the other side can see it.
        UpdateExchange(nIndex, true, false);
        const std::array<std::uint8_t, 1> stx{kStx};
        if (const WaitResult result = Write(stx); result != WaitResult::Byte) {
            UpdateExchange(nIndex, false, false);
            return result;
        }
        Log("result announced with STX; waiting up to " + std::to_string(behaviour.m_nAckWaitMs) + " ms for ACK");

        const auto deadline = Clock::now() + std::chrono::milliseconds(behaviour.m_nAckWaitMs);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            std::uint8_t b = 0;
            const WaitResult result = left > 0 ? ReadByte(b, static_cast<int>(left)) : WaitResult::Timeout;
            if (result == WaitResult::Timeout) {
                Log("no ACK within " + std::to_string(behaviour.m_nAckWaitMs) + " ms; reply not sent, idle again");
                return WaitResult::Byte;
            }
            if (result != WaitResult::Byte) {
                return result;
            }
            if (b == kAck) {
                break;
            }
            Log("ignored " + HexByte(b) + " while waiting for ACK");
        }

        if (bNoise) {
            Log("noise: " + HexBytes(kSimNoiseBeforeReply));
            if (const WaitResult result = Write(kSimNoiseBeforeReply); result != WaitResult::Byte) {
                return result;
            }
        }
        std::array<std::uint8_t, 5> reply = SimReplyFrame(nStatus);
        if (behaviour.m_eFault == SimFault::BadReplyCheck) {
            reply[3] ^= 0xFF;
        }
        UpdateExchange(nIndex, true, true);
        if (const WaitResult result = Write(reply); result != WaitResult::Byte) {
            UpdateExchange(nIndex, true, false);
            return result;
        }
        Log("ACK received; reply sent: " + HexBytes(reply) +
            (nStatus == 0x00 ? std::string(" (success)") : " (failure, status " + HexByte(nStatus) + ")") +
            (behaviour.m_eFault == SimFault::BadReplyCheck ? " with a wrong check byte" : ""));
        return WaitResult::Byte;
    }

    std::size_t ExchangeCount() const
    {
        const std::lock_guard lock(m_mutex);
        return m_exchanges.size();
    }

    void Run()
    {
        for (;;) {
            std::uint8_t b = 0;
            WaitResult result = ReadByte(b, -1);
            if (result == WaitResult::Byte) {
                const SimBehaviour behaviour = Snapshot();
                if (behaviour.m_eFault == SimFault::Silent) {
                    Log("ignored " + HexByte(b) + " (silent)");
                } else if (b == kStx) {
                    result = AnswerStx(behaviour);
                } else if (b == kFrameStart) {
                    result = HandleFrame(behaviour);
                } else {
                    Log("ignored " + HexByte(b) + " while idle");
                }
            }
            if (result == WaitResult::Stop) {
                return;
            }
            if (result == WaitResult::LineLost) {
                LoseLine();
                return;
            }
        }
    }
};

SimDevice::SimDevice(int fd, SimBehaviour behaviour) : m_pImpl(std::make_unique<Impl>(fd, behaviour)) {}

SimDevice::~SimDevice()
{
    Stop();
}

void SimDevice::SetBehaviour(const SimBehaviour& behaviour)
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_behaviour = behaviour;
}

SimBehaviour SimDevice::Behaviour() const
{
    return m_pImpl->Snapshot();
}

void SimDevice::SetLogger(std::function<void(std::string_view)> logger)
{
    const std::lock_guard lock(m_pImpl->m_logMutex);
    m_pImpl->m_logger = std::move(logger);
}

void SimDevice::SetHangUpHandler(std::function<void()> handler)
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_hangUpHandler = std::move(handler);
}

void SimDevice::SetLineLostHandler(std::function<void()> handler)
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_lineLostHandler = std::move(handler);
}

bool SimDevice::Start()
{
    Impl& impl = *m_pImpl;
    if (impl.m_thread.joinable() || !impl.m_hStop.IsOpen() || impl.m_hLine < 0) {
        return false;
    }
    const int nFlags = ::fcntl(impl.m_hLine, F_GETFL);
    if (nFlags < 0 || ::fcntl(impl.m_hLine, F_SETFL, nFlags | O_NONBLOCK) != 0) {
        return false;
    }
    std::uint64_t nDrained = 0;
    while (::read(impl.m_hStop.Get(), &nDrained, sizeof nDrained) > 0) {
    }
    {
        const std::lock_guard lock(impl.m_mutex);
        impl.m_bLineLost = false;
    }
    impl.m_nInputPos = impl.m_nInputLen = 0;
    impl.m_thread = std::thread([&impl] { impl.Run(); });
    return true;
}

void SimDevice::Stop()
{
    Impl& impl = *m_pImpl;
    if (!impl.m_thread.joinable()) {
        return;
    }
    const std::uint64_t nOne = 1;
    while (::write(impl.m_hStop.Get(), &nOne, sizeof nOne) < 0 && errno == EINTR) {
    }
    impl.m_thread.join();
}

std::vector<SimExchange> SimDevice::Exchanges() const
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_exchanges;
}

std::size_t SimDevice::ExchangeCount() const
{
    return m_pImpl->ExchangeCount();
}

bool SimDevice::WaitForExchanges(std::size_t nCount, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(m_pImpl->m_mutex);
    return m_pImpl->m_cvExchanges.wait_for(lock, limit, [&] { return m_pImpl->m_exchanges.size() >= nCount; });
}

std::size_t SimDevice::ProbesAnswered() const
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_nProbesAnswered;
}

bool SimDevice::LineLost() const
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_bLineLost;
}

}  // namespace varnis
