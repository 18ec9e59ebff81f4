#include "sim/SimDevice.h"

#include "config/FrameDecoder.h"
#include "sim/SimLine.h"

#include <array>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <span>
#include <thread>
#include <utility>

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

using simdetail::WaitResult;

// How a step of an exchange ended.
enum class StepResult : std::uint8_t {
    Next,      // done; the exchange goes on with its next step
    Idle,      // the exchange is over; the device waits for the next byte
    Stop,      // a stop was requested
    LineLost,  // the line is gone
};

// A wait that ended a step: a byte or a finished write lets it go on.
StepResult AfterWait(WaitResult result)
{
    switch (result) {
    case WaitResult::Byte: return StepResult::Next;
    case WaitResult::Timeout: return StepResult::Idle;
    case WaitResult::Stop: return StepResult::Stop;
    case WaitResult::LineLost: return StepResult::LineLost;
    }
    return StepResult::LineLost;
}

// The exchange a frame started, as its later steps need it.
struct TakenFrame {
    std::size_t m_nIndex = 0;
    std::uint8_t m_nStatus = 0;
    bool m_bValid = false;
};

constexpr std::size_t kMinFrameSize = 5;  // start, command, length, check, end

}  // namespace

struct SimDevice::Impl {
    explicit Impl(int hFd, const SimBehaviour& behaviour)
        : m_line(hFd, [this](const std::string& strLine) { Log(strLine); }), m_behaviour(behaviour)
    {
    }

    simdetail::SimLine m_line;
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
        m_line.WaitForStop();
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
        if (!m_line.Pause(nDelay)) {
            return WaitResult::Stop;
        }
        // Counted before the ACK goes out, so that whoever has received it
        // finds it counted; taken back if it could not be written.
        {
            const std::lock_guard lock(m_mutex);
            ++m_nProbesAnswered;
        }
        const std::array<std::uint8_t, 1> ack{kAck};
        const WaitResult result = m_line.Write(ack);
        if (result == WaitResult::Byte) {
            Log("STX received, answered ACK" +
                (nDelay > 0 ? " after " + std::to_string(nDelay) + " ms" : std::string()));
        } else {
            const std::lock_guard lock(m_mutex);
            --m_nProbesAnswered;
        }
        return result;
    }

    // Collects the rest of a frame whose start byte has been read: Byte when
    // it is complete, Timeout when the line fell silent before that.
    WaitResult CollectFrame(const SimBehaviour& behaviour, std::vector<std::uint8_t>& frame)
    {
        frame.assign(1, kFrameStart);
        std::size_t nExpected = kMinFrameSize;
        while (frame.size() < nExpected) {
            std::uint8_t b = 0;
            const WaitResult result = m_line.ReadByte(b, behaviour.m_nFrameByteTimeoutMs);
            if (result != WaitResult::Byte) {
                return result;
            }
            frame.push_back(b);
            if (frame.size() == 3) {
                nExpected = kMinFrameSize + b;  // the length byte counts the data bytes
            }
        }
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

    // One exchange from the start byte on: take the frame, announce the
    // result, await the system's ACK, reply.
    StepResult HandleFrame(const SimBehaviour& behaviour)
    {
        TakenFrame taken;
        StepResult result = TakeFrame(behaviour, taken);
        if (result == StepResult::Next && behaviour.m_eFault == SimFault::HangUpMidExchange) {
            return HangUp();
        }
        if (result == StepResult::Next) {
            result = Announce(behaviour, taken);
        }
        if (result == StepResult::Next) {
            result = AwaitAck(behaviour);
        }
        if (result == StepResult::Next) {
            result = Reply(behaviour, taken);
        }
        return result;
    }

    // Reads the frame, decodes it and records the exchange with the reply
    // it will get. An incomplete frame is recorded (and refused) too.
    StepResult TakeFrame(const SimBehaviour& behaviour, TakenFrame& taken)
    {
        SimExchange exchange;
        const WaitResult collected = CollectFrame(behaviour, exchange.m_frame);
        if (collected == WaitResult::Stop || collected == WaitResult::LineLost) {
            if (collected == WaitResult::LineLost) {
                Log("partial frame when the line went: " + HexBytes(exchange.m_frame));
            }
            return AfterWait(collected);
        }
        const std::size_t nNumber = ExchangeCount() + 1;
        Log("exchange " + std::to_string(nNumber) + ": frame received (" + std::to_string(exchange.m_frame.size()) +
            " bytes): " + HexBytes(exchange.m_frame));
        if (collected == WaitResult::Timeout) {
            exchange.m_strDescription = "incomplete frame: " + std::to_string(exchange.m_frame.size()) +
                                        " bytes, then silence for " + std::to_string(behaviour.m_nFrameByteTimeoutMs) +
                                        " ms";
        } else {
            Decode(exchange);
        }
        exchange.m_nReplyStatus = exchange.m_bValid ? behaviour.m_nResultStatus : kSimStatusFrameRefused;
        if (exchange.m_bValid) {
            Log("exchange " + std::to_string(nNumber) + ": the card would carry:");
            LogLines("    ", exchange.m_strDescription);
        } else {
            Log("exchange " + std::to_string(nNumber) + ": frame refused: " + exchange.m_strDescription);
        }
        taken.m_nStatus = exchange.m_nReplyStatus;
        taken.m_bValid = exchange.m_bValid;
        taken.m_nIndex = Record(std::move(exchange));
        return StepResult::Next;
    }

    static void Decode(SimExchange& exchange)
    {
        DecodedConfiguration config;
        std::string strReason;
        if (DecodeConfigurationFrame(exchange.m_frame, config, strReason)) {
            exchange.m_bValid = true;
            exchange.m_strDescription = DescribeConfiguration(config);
        } else {
            exchange.m_strDescription = strReason.empty() ? std::string("not a configuration frame") : strReason;
        }
    }

    // The hang-up fault: the line is closed in the middle of the exchange.
    StepResult HangUp()
    {
        std::function<void()> hangUp;
        {
            const std::lock_guard lock(m_mutex);
            hangUp = m_hangUpHandler;
        }
        Log("hanging up in the middle of the exchange");
        if (hangUp) {
            hangUp();
        }
        return StepResult::LineLost;
    }

    // Writes the card (a valid frame only), then announces the result with STX.
    StepResult Announce(const SimBehaviour& behaviour, const TakenFrame& taken)
    {
        if (taken.m_bValid) {
            if (behaviour.m_nCardWriteMs > 0) {
                Log("writing the card (" + std::to_string(behaviour.m_nCardWriteMs) + " ms)");
            }
            if (!m_line.Pause(behaviour.m_nCardWriteMs)) {
                return StepResult::Stop;
            }
        }
        if (behaviour.m_eFault == SimFault::NeverAnnounces) {
            Log("not announcing the result (fault)");
            return StepResult::Idle;
        }
        if (behaviour.m_eFault == SimFault::Noise) {
            Log("noise: " + HexBytes(kSimNoiseBeforeStx));
            if (const WaitResult result = m_line.Write(kSimNoiseBeforeStx); result != WaitResult::Byte) {
                return AfterWait(result);
            }
        }
        // As with the ACK to a probe: recorded before the other side can see it.
        UpdateExchange(taken.m_nIndex, true, false);
        const std::array<std::uint8_t, 1> stx{kStx};
        if (const WaitResult result = m_line.Write(stx); result != WaitResult::Byte) {
            UpdateExchange(taken.m_nIndex, false, false);
            return AfterWait(result);
        }
        Log("result announced with STX; waiting up to " + std::to_string(behaviour.m_nAckWaitMs) + " ms for ACK");
        return StepResult::Next;
    }

    // Waits for the system's ACK; other bytes are ignored. Without an ACK in
    // time the exchange ends and no reply is sent.
    StepResult AwaitAck(const SimBehaviour& behaviour)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(behaviour.m_nAckWaitMs);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            std::uint8_t b = 0;
            const WaitResult result = left > 0 ? m_line.ReadByte(b, static_cast<int>(left)) : WaitResult::Timeout;
            if (result == WaitResult::Timeout) {
                Log("no ACK within " + std::to_string(behaviour.m_nAckWaitMs) + " ms; reply not sent, idle again");
                return StepResult::Idle;
            }
            if (result != WaitResult::Byte) {
                return AfterWait(result);
            }
            if (b == kAck) {
                return StepResult::Next;
            }
            Log("ignored " + HexByte(b) + " while waiting for ACK");
        }
    }

    // Sends the reply frame; the exchange is over.
    StepResult Reply(const SimBehaviour& behaviour, const TakenFrame& taken)
    {
        if (behaviour.m_eFault == SimFault::Noise) {
            Log("noise: " + HexBytes(kSimNoiseBeforeReply));
            if (const WaitResult result = m_line.Write(kSimNoiseBeforeReply); result != WaitResult::Byte) {
                return AfterWait(result);
            }
        }
        const std::uint8_t nStatus = taken.m_nStatus;
        std::array<std::uint8_t, 5> reply = SimReplyFrame(nStatus);
        if (behaviour.m_eFault == SimFault::BadReplyCheck) {
            reply[3] ^= 0xFF;
        }
        UpdateExchange(taken.m_nIndex, true, true);
        if (const WaitResult result = m_line.Write(reply); result != WaitResult::Byte) {
            UpdateExchange(taken.m_nIndex, true, false);
            return AfterWait(result);
        }
        Log("ACK received; reply sent: " + HexBytes(reply) +
            (nStatus == 0x00 ? std::string(" (success)") : " (failure, status " + HexByte(nStatus) + ")") +
            (behaviour.m_eFault == SimFault::BadReplyCheck ? " with a wrong check byte" : ""));
        return StepResult::Idle;
    }

    std::size_t ExchangeCount() const
    {
        const std::lock_guard lock(m_mutex);
        return m_exchanges.size();
    }

    // What the device does with a byte while idle.
    StepResult HandleIdleByte(std::uint8_t b)
    {
        const SimBehaviour behaviour = Snapshot();
        if (behaviour.m_eFault == SimFault::Silent) {
            Log("ignored " + HexByte(b) + " (silent)");
            return StepResult::Idle;
        }
        if (b == kStx) {
            return AfterWait(AnswerStx(behaviour));
        }
        if (b == kFrameStart) {
            return HandleFrame(behaviour);
        }
        Log("ignored " + HexByte(b) + " while idle");
        return StepResult::Idle;
    }

    void Run()
    {
        for (;;) {
            std::uint8_t b = 0;
            const WaitResult read = m_line.ReadByte(b, -1);
            const StepResult result = read == WaitResult::Byte ? HandleIdleByte(b) : AfterWait(read);
            if (result == StepResult::Stop) {
                return;
            }
            if (result == StepResult::LineLost) {
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
    if (impl.m_thread.joinable() || !impl.m_line.Prepare()) {
        return false;
    }
    {
        const std::lock_guard lock(impl.m_mutex);
        impl.m_bLineLost = false;
    }
    impl.m_thread = std::thread([&impl] { impl.Run(); });
    return true;
}

void SimDevice::Stop()
{
    Impl& impl = *m_pImpl;
    if (!impl.m_thread.joinable()) {
        return;
    }
    impl.m_line.RequestStop();
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
