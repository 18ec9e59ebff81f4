// Reads one line of input on a thread of its own, so that the caller's own
// loop keeps serving its events meanwhile (as a modal box of a window does).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace varnis::console {

class LineReader {
public:
    explicit LineReader(int nFd = 0);  // not owned
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Starts reading one line, byte by byte (nothing is read ahead), after
    // ending a read still going. `onDone` is called on the reading thread
    // once the line has ended: the caller's loop wakes to look at IsDone.
    // False when the input cannot be read.
    bool Start(std::function<void()> onDone);
    bool IsDone() const;
    // The line read, without its end. Before IsDone the read is ended and
    // nothing is given. False as well at the end of input with nothing read,
    // or once the line is longer than kLineLimit bytes (TooLong() then tells
    // so; the rest of that line is left unread).
    bool Take(std::string& strLine);
    bool TooLong() const;

    static constexpr std::size_t kLineLimit = 4096;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace varnis::console
