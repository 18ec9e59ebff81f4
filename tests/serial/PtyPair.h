// The far end of a test line: a raw pseudo-terminal whose slave the engine
// opens behind a COM number while the test drives the master side. The line
// stays up between the engine's opens. Realised once per system: on Linux
// the test holds both ends itself; the Windows build (run under Wine) asks a
// relay on the Linux side for a pseudo-terminal mapped to a COM port and
// drives its master over a loopback socket (tests/windows/PtyRelay.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varnis::test {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsOpen() const;
    // What goes behind a COM number in the engine's port table.
    const std::string& SlavePath() const;
    // The far end hangs up.
    void CloseMaster();

    bool Write(const std::vector<std::uint8_t>& bytes) const;
    bool Write(const std::string& text) const;
    // What the engine wrote: reads until `nCount` bytes have come or `limit` passed.
    std::string Read(std::size_t nCount, std::chrono::milliseconds limit) const;
    // Something the engine wrote is there to be read.
    bool MasterReadable() const;
    // Bytes waiting in the slave's input queue (the engine's side of the line).
    int SlaveQueued() const;

    // The descriptors, for tests of details of POSIX lines (Linux only).
    int Master() const;
    int Slave() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace varnis::test
