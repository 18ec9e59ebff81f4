// Standard output as a program writes it, with every lost byte known.
#pragma once

#include <array>
#include <streambuf>
#include <string>
#include <string_view>

namespace varnis::console {

// Every write goes to the descriptor through a buffer of its own, and the
// first failure is kept, so output that was lost is known and why.
class StandardOutput final : public std::streambuf {
public:
    explicit StandardOutput(int nFd = 1) : m_nFd(nFd) { setp(m_buffer.data(), m_buffer.data() + m_buffer.size()); }
    // Flushes and closes the descriptor. False with a one-line reason when
    // anything written was lost.
    bool Finish(std::string& strError);

protected:
    int_type overflow(int_type ch) override;
    int sync() override;

private:
    bool WriteOut();

    int m_nFd;
    int m_nError = 0;
    std::array<char, 4096> m_buffer{};
};

// All a program has to say on standard output in one text (its help, its
// version), then the end of that output: false with the one-line reason when
// any of it was lost.
bool PrintAndFinish(std::string_view text, std::string& strError);

}  // namespace varnis::console
