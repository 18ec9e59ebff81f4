#include "apps/cli/LineReader.h"

#include "serial/EventLoop.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace varnis::cli {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int nFd) : m_hFd(nFd) {}
    ~UniqueFd() {
        if (m_hFd >= 0) {
            ::close(m_hFd);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return m_hFd; }

private:
    int m_hFd;
};

}  // namespace

struct LineReader::Impl {
    explicit Impl(int nFd) : m_hInput(nFd), m_hCancel(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    // Shared between the reading thread and ReadLine.
    std::mutex m_mutex;
    bool m_bDone = false;
    bool m_bGotLine = false;
    std::string m_strLine;

    int m_hInput;
    UniqueFd m_hCancel;
    std::thread m_thread;

    void Cancel() {
        if (m_thread.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_hCancel.Get(), &one, sizeof one);
            m_thread.join();
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t r = ::read(m_hCancel.Get(), &count, sizeof count);  // reset
        }
    }

    // Thread body: read until a line end, the end of input or a stop request.
    void Read(EventLoop& loop) {
        std::string line;
        bool bGotLine = false;
        for (;;) {
            std::array<pollfd, 2> fds{{{m_hInput, POLLIN, 0}, {m_hCancel.Get(), POLLIN, 0}}};
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                bGotLine = !line.empty();
                break;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                return;  // stopped: nobody waits for the line any more
            }
            if (fds[0].revents == 0) {
                continue;
            }
            char c = 0;
            const ssize_t n = ::read(m_hInput, &c, 1);
            if (n == 1) {
                if (c == '\n') {
                    bGotLine = true;
                    break;
                }
                line.push_back(c);
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            bGotLine = !line.empty();  // end of input (or a read error): a last unterminated line still counts
            break;
        }
        {
            const std::lock_guard lock(m_mutex);
            m_bDone = true;
            m_bGotLine = bGotLine;
            m_strLine = std::move(line);
        }
        loop.Post([] {});  // wakes the loop so that it looks at m_bDone
    }
};

LineReader::LineReader(int nFd) : m_pImpl(std::make_unique<Impl>(nFd)) {}

LineReader::~LineReader() { m_pImpl->Cancel(); }

bool LineReader::ReadLine(EventLoop& loop, std::string& strLine, const std::function<bool()>& abandon) {
    Impl& impl = *m_pImpl;
    impl.Cancel();
    impl.m_bDone = false;
    impl.m_bGotLine = false;
    impl.m_strLine.clear();
    if (impl.m_hCancel.Get() < 0) {
        return false;
    }
    impl.m_thread = std::thread([&impl, &loop] { impl.Read(loop); });
    const auto done = [&impl] {
        const std::lock_guard lock(impl.m_mutex);
        return impl.m_bDone;
    };
    // Waiting for a person: the wait ends with a line or the end of input.
    const auto doneOrAbandoned = [&done, &abandon] { return done() || (abandon && abandon()); };
    while (!loop.RunUntil(doneOrAbandoned, std::chrono::hours(1))) {
    }
    if (!done()) {
        impl.Cancel();  // abandoned: the reader thread stops reading
        return false;
    }
    impl.m_thread.join();
    strLine = impl.m_strLine;
    return impl.m_bGotLine;
}

}  // namespace varnis::cli
