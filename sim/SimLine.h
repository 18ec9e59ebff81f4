// The simulated device's end of the line: waiting for a byte, pausing and
// writing, each cut short by a stop request. Only the device's thread uses
// it, apart from RequestStop.
#pragma once

#include "sim/SimDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace varnis::simdetail {

// What one wait on the line ended with.
enum class WaitResult : std::uint8_t { Byte, Timeout, Stop, LineLost };

class SimLine {
public:
    // `log` is told why the line failed.
    SimLine(int hLine, std::function<void(const std::string&)> log);

    // Before the device's thread starts: the line made non-blocking, an old
    // stop request and unread bytes forgotten. False if it cannot be served.
    bool Prepare();
    void RequestStop() const;  // any thread
    bool StopRequested() const;
    void WaitForStop() const;

    // Waits up to nTimeoutMs (negative: without limit) for a byte or a stop request.
    WaitResult ReadByte(std::uint8_t& b, int nTimeoutMs);
    // Waits nMs unless a stop comes first; bytes that arrive meanwhile stay queued.
    bool Pause(int nMs) const;
    // Writes every byte unless a stop comes first or the line fails; Byte
    // when all are written.
    WaitResult Write(std::span<const std::uint8_t> bytes) const;

private:
    const int m_hLine;
    UniqueFd m_hStop;
    std::function<void(const std::string&)> m_log;
    // Bytes read from the line and not yet handled.
    std::array<std::uint8_t, 256> m_input{};
    std::size_t m_nInputPos = 0;
    std::size_t m_nInputLen = 0;
};

}  // namespace varnis::simdetail
