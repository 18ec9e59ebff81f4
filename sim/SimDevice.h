// A simulated generator device on the far side of a serial line.
//
// What the device does with the bytes it reads (one state at a time):
//   idle        0x02 -> wait the ACK delay, answer 0x06.
//               0xAA -> collect a frame: its length byte says how many bytes
//               follow (a configuration frame is 26 bytes in all); a gap longer
//               than m_nFrameByteTimeoutMs ends it as incomplete.
//               anything else is logged and ignored.
//   frame in    checked against the frame rule and decoded; recorded.
//               A frame that does not decode (or came incomplete) is refused
//               with status kSimStatusFrameRefused; a good one "writes the card"
//               for m_nCardWriteMs and answers with m_nResultStatus.
//   announce    0x02, then up to m_nAckWaitMs for the system's 0x06 (other
//               bytes are ignored); no ACK: nothing more is sent, back to idle.
//   reply       AA s 00 (AA^s^00) 03, back to idle.
//
// Noise fault: before the announcing 0x02 the device sends kSimNoiseBeforeStx,
// and after the system's ACK, right before the reply frame, kSimNoiseBeforeReply.
// Neither holds 0x02, 0x03, 0x06 or 0xAA, so a receiver that skips everything
// but 0x02 while waiting for the announcement, and everything but 0xAA while
// waiting for the start byte, still reads the reply that follows.
#pragma once

#include "config/SettingsBuild.h"
#include "platform/posix/UniqueFd.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnis {

// Opens a terminal device the simulated device serves instead of a
// pseudo-terminal of its own, and sets it to 9600 8N1 raw without flow
// control. Closed on failure, with `strError` saying why.
UniqueFd OpenServedDevice(const std::string& strPath, std::string& strError);

// A pseudo-terminal pair in raw mode: the master stays here, the slave path
// is what a serial program opens. Closing the master hangs up the line: every
// open slave descriptor then sees POLLHUP.
//
// A slave descriptor is kept open so that the master does not see a hang-up
// before a serial program opens the slave. It is never read (it takes no
// bytes from the queue), is not locked and is not exclusive, so a program may
// open the slave path with TIOCEXCL and flock as it would a real port.
class PtyPair {
public:
    static std::optional<PtyPair> Open();
    PtyPair(PtyPair&& other) noexcept = default;
    PtyPair& operator=(PtyPair&& other) noexcept = default;
    ~PtyPair() = default;
    int MasterFd() const { return m_hMaster.Get(); }
    const std::string& SlavePath() const { return m_strSlavePath; }
    // The far end hangs up. May be called from a device's hang-up handler, on
    // the device thread; MasterFd() must then not be used by other threads.
    void CloseMaster();

private:
    PtyPair() = default;
    UniqueFd m_hMaster;
    UniqueFd m_hSlaveKeep;  // keeps the slave side alive while nobody has it open
    std::string m_strSlavePath;
};

enum class SimFault : std::uint8_t {
    None,
    Silent,            // never answers anything
    AckTooLate,        // answers STX after m_nLateAckMs
    NeverAnnounces,    // takes the frame, never sends its STX
    BadReplyCheck,     // reply carries a wrong check byte (the right one XOR 0xFF)
    Noise,             // noise before and inside the reply (see above)
    HangUpMidExchange  // closes the line after taking the frame
};

// The status of the reply to a frame that broke the frame rule, was no
// configuration frame or came incomplete.
inline constexpr std::uint8_t kSimStatusFrameRefused = 0xE0;
inline constexpr std::array<std::uint8_t, 6> kSimNoiseBeforeStx{0x00, 0xFF, 0x55, 0x13, 0x11, 0x7E};
inline constexpr std::array<std::uint8_t, 3> kSimNoiseBeforeReply{0x00, 0x55, 0xFF};

struct SimBehaviour {
    int m_nAckDelayMs = 0;                // delay before answering STX
    int m_nCardWriteMs = 0;               // "writing the card"
    std::uint8_t m_nResultStatus = 0x00;  // 0x00 success, anything else a failure status
    SimFault m_eFault = SimFault::None;
    int m_nLateAckMs = 1500;          // for AckTooLate
    int m_nAckWaitMs = 1000;          // bound on waiting for the system's ACK after its STX
    int m_nFrameByteTimeoutMs = 500;  // longest gap between two bytes of a frame
};

// One received configuration frame and what became of it.
struct SimExchange {
    std::vector<std::uint8_t> m_frame;  // the bytes as received
    bool m_bValid = false;              // met the frame rule and decoded
    std::string m_strDescription;       // decoded settings in plain words, or the reason it was refused
    std::uint8_t m_nReplyStatus = 0;
    bool m_bAnnounced = false;  // the device sent its STX
    bool m_bReplySent = false;  // the system's ACK came and the reply frame went out
};

// The five reply bytes for a status: AA s 00 (AA^s^00) 03.
std::array<std::uint8_t, 5> SimReplyFrame(std::uint8_t nStatus);

class SimDevice {
public:
    // Serves the line behind `fd` (not owned; must outlive the device). The
    // device puts it into non-blocking mode.
    SimDevice(int fd, SimBehaviour behaviour);
    ~SimDevice();  // stops
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    void SetBehaviour(const SimBehaviour& behaviour);  // takes effect at the next byte
    SimBehaviour Behaviour() const;
    void SetLogger(std::function<void(std::string_view)> logger);  // one call per log line
    // How the device closes its line for HangUpMidExchange (the owner of the
    // descriptor closes it, e.g. PtyPair::CloseMaster). Runs on the device
    // thread; without one the device only stops using the line.
    void SetHangUpHandler(std::function<void()> handler);
    // Called once, on the device thread, when the device stops using the line
    // (the line hung up or failed, or the device hung up itself).
    void SetLineLostHandler(std::function<void()> handler);
    bool Start();  // runs on a thread of its own; false when already running
    void Stop();   // prompt; safe to call twice

    std::vector<SimExchange> Exchanges() const;
    std::size_t ExchangeCount() const;
    bool WaitForExchanges(std::size_t nCount, std::chrono::milliseconds limit) const;
    std::size_t ProbesAnswered() const;  // STX bytes answered with ACK
    bool LineLost() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace varnis
