// The system's side of a simulated line, as the tests drive it.
#pragma once

#include "config/SettingsBuild.h"
#include "sim/SimDevice.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnis::simtest {

using namespace std::chrono_literals;

// The slave side of a pseudo-terminal opened raw, non-blocking.
class TestLine {
public:
    explicit TestLine(const std::string& strPath);
    bool IsOpen() const { return m_hFd.IsOpen(); }
    int Fd() const { return m_hFd.Get(); }
    bool Write(std::span<const std::uint8_t> bytes);
    bool WriteByte(std::uint8_t b);
    // Reads until nCount bytes came or `limit` passed; returns what came.
    std::vector<std::uint8_t> Read(std::size_t nCount, std::chrono::milliseconds limit);
    // True when nothing arrives for `span`.
    bool StaysQuiet(std::chrono::milliseconds span);
    // Waits for POLLHUP within `limit`.
    bool SeesHangUp(std::chrono::milliseconds limit);

private:
    UniqueFd m_hFd;
};

// The configuration frame of the settings right after a connection.
ConfigurationFrame DefaultConfigurationFrame();

}  // namespace varnis::simtest
