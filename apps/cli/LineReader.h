// Reads lines from standard input on a thread of its own, so that the
// caller's event loop keeps serving timers and received bytes meanwhile (as
// a modal box of the window does).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace varnis {
class EventLoop;
}

namespace varnis::cli {

class LineReader {
public:
    explicit LineReader(int nFd = 0);  // not owned
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // One line without its end, read byte by byte (nothing is read ahead).
    // False at the end of input with nothing read, as soon as `abandon`
    // (looked at whenever the loop has served something) is true, or once
    // the line is longer than kLineLimit bytes (TooLong() then tells so;
    // the rest of that line is left unread).
    bool ReadLine(EventLoop& loop, std::string& strLine, const std::function<bool()>& abandon = {});
    bool TooLong() const;

    static constexpr std::size_t kLineLimit = 4096;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace varnis::cli
