// Standard input one byte at a time, for the line reader's own thread: a
// wait for the next byte that another thread can end. Realised once per
// system (posix/, win32/).
#pragma once

#include <cstdint>
#include <memory>

namespace varnis::console {

class InputBytes {
public:
    explicit InputBytes(int nFd);  // not owned
    ~InputBytes();
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;

    enum class Got : std::uint8_t { Byte, End, Cancelled };
    // Waits for the next byte. End: the end of input, or a read error.
    Got Next(char& c);
    // Any thread: a waiting Next returns Cancelled, and so does every Next
    // until Rearm.
    void Cancel();
    void Rearm();  // once no Next runs
    bool IsUsable() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace varnis::console
