// A simulated generator device on the far side of a serial line.
#pragma once

#include "config/SettingsBuild.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnis {

// A pseudo-terminal pair in raw mode: the master stays here, the slave path
// is what a serial program opens. Closing the master hangs up the line.
class PtyPair {
public:
    static std::optional<PtyPair> Open();
    PtyPair(PtyPair&& other) noexcept;
    PtyPair& operator=(PtyPair&& other) noexcept;
    ~PtyPair();
    int MasterFd() const { return m_nMasterFd; }
    const std::string& SlavePath() const { return m_strSlavePath; }
    void CloseMaster();  // the far end hangs up

private:
    PtyPair() = default;
    int m_nMasterFd = -1;
    int m_nSlaveKeepFd = -1;  // keeps the slave side alive while nobody has it open
    std::string m_strSlavePath;
};

enum class SimFault : std::uint8_t {
    None,
    Silent,           // never answers anything
    AckTooLate,       // answers STX after m_nLateAckMs
    NeverAnnounces,   // takes the frame, never sends its STX
    BadReplyCheck,    // reply carries a wrong check byte
    Noise,            // noise before and inside the reply
    HangUpMidExchange // closes the line after taking the frame
};

struct SimBehaviour {
    int m_nAckDelayMs = 0;          // delay before answering STX
    int m_nCardWriteMs = 0;         // "writing the card"
    std::uint8_t m_nResultStatus = 0x00;  // 0x00 success, anything else a failure status
    SimFault m_eFault = SimFault::None;
    int m_nLateAckMs = 1500;        // for AckTooLate
    int m_nAckWaitMs = 1000;        // bound on waiting for the system's ACK after its STX
};

// One received configuration frame and what became of it.
struct SimExchange {
    std::vector<std::uint8_t> m_frame;  // the bytes as received
    bool m_bValid = false;              // met the frame rule and decoded
    std::string m_strDescription;       // decoded settings in plain words, or the reason it was refused
    std::uint8_t m_nReplyStatus = 0;
};

class SimDevice {
public:
    // Serves the line behind `fd` (not owned; must outlive the device).
    SimDevice(int fd, SimBehaviour behaviour);
    ~SimDevice();  // stops
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    void SetBehaviour(const SimBehaviour& behaviour);  // takes effect at the next byte
    void SetLogger(std::function<void(std::string_view)> logger);  // one call per log line
    bool Start();  // runs on a thread of its own
    void Stop();   // prompt; safe to call twice

    std::vector<SimExchange> Exchanges() const;
    std::size_t ExchangeCount() const;
    bool WaitForExchanges(std::size_t nCount, std::chrono::milliseconds limit) const;
    std::size_t ProbesAnswered() const;  // STX bytes answered with ACK

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace varnis
