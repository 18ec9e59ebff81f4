// The reader of the answers to make's questions, fed the input on a pipe:
// it gives the input's lines in order, each without its end, none longer
// than its cap; a longer line ends the reading there, told as too long.
#include "platform/LineReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <future>
#include <string>
#include <string_view>

namespace {

void Require(bool bCondition)
{
    if (!bCondition)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    // The whole input fits in the pipe, so it is written before reading starts.
    if (nSize > 60000)
        return 0;
    int fds[2] = {-1, -1};
    Require(::pipe2(fds, O_CLOEXEC) == 0);
    Require(::fcntl(fds[1], F_SETPIPE_SZ, 65536) >= 65536);
    Require(::write(fds[1], pData, nSize) == static_cast<ssize_t>(nSize));
    ::close(fds[1]);

    const std::string_view input(reinterpret_cast<const char*>(pData), nSize);
    {
        varnis::console::LineReader reader(fds[0]);
        std::size_t nAt = 0;
        for (;;) {
            std::string line;
            // The pipe holds all of the input and its end: every read ends.
            std::promise<void> done;
            Require(reader.Start([&done] { done.set_value(); }));
            done.get_future().wait();
            const bool bGot = reader.Take(line);
            const std::size_t nFrom = std::min(nAt, input.size());
            const std::size_t nEnd = std::min(input.find('\n', nFrom), input.size());
            const std::string_view expected = input.substr(nFrom, nEnd - nFrom);
            if (!bGot) {
                // The end of input, or a line over the cap: nothing read past it.
                const bool bTooLong = expected.size() > varnis::console::LineReader::kLineLimit;
                Require(reader.TooLong() == bTooLong);
                Require(bTooLong || expected.empty());
                Require(bTooLong || nAt >= input.size());
                break;
            }
            Require(!reader.TooLong());
            Require(line == expected);
            nAt = nEnd + 1;
        }
    }
    ::close(fds[0]);
    return 0;
}
