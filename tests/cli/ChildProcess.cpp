#include "cli/ChildProcess.h"

#include <array>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace varnis::test {

struct ChildProcess::Impl {
    pid_t m_pid = -1;
    int m_hIn = -1;
    int m_hOut = -1;
    int m_hErr = -1;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::string m_strOut;
    std::string m_strErr;
    bool m_bStreamsClosed = false;

    static void CloseFd(int& fd)
    {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    void ReadStreams()
    {
        std::array<pollfd, 2> fds{{{m_hOut, POLLIN, 0}, {m_hErr, POLLIN, 0}}};
        int nOpen = 2;
        while (nOpen > 0) {
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) {
                    continue;
                }
                std::array<char, 4096> buffer{};
                const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
                if (n > 0) {
                    const std::lock_guard lock(m_mutex);
                    (i == 0 ? m_strOut : m_strErr).append(buffer.data(), static_cast<std::size_t>(n));
                    m_cv.notify_all();
                } else if (n == 0 || errno != EINTR) {
                    fds[i].fd = -1;
                    --nOpen;
                }
            }
        }
        const std::lock_guard lock(m_mutex);
        m_bStreamsClosed = true;
        m_cv.notify_all();
    }

    bool WaitFor(std::string Impl::*stream, std::string_view needle, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, limit, [&] {
            return (this->*stream).find(needle) != std::string::npos || m_bStreamsClosed;
        }) && (this->*stream).find(needle) != std::string::npos;
    }
};

ChildProcess::ChildProcess() : m_pImpl(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess()
{
    if (m_pImpl->m_pid > 0) {
        (void)Wait(std::chrono::milliseconds(0));
    }
    Impl::CloseFd(m_pImpl->m_hIn);
}

bool ChildProcess::Start(const std::vector<std::string>& args)
{
    std::array<int, 2> in{-1, -1};
    std::array<int, 2> out{-1, -1};
    std::array<int, 2> err{-1, -1};
    if (::pipe2(in.data(), O_CLOEXEC) != 0 || ::pipe2(out.data(), O_CLOEXEC) != 0 ||
        ::pipe2(err.data(), O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&m_pImpl->m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    m_pImpl->m_hIn = in[1];
    m_pImpl->m_hOut = out[0];
    m_pImpl->m_hErr = err[0];
    if (rc != 0) {
        m_pImpl->m_pid = -1;
        Impl::CloseFd(m_pImpl->m_hIn);
        Impl::CloseFd(m_pImpl->m_hOut);
        Impl::CloseFd(m_pImpl->m_hErr);
        return false;
    }
    m_pImpl->m_reader = std::thread([this] { m_pImpl->ReadStreams(); });
    return true;
}

void ChildProcess::WriteInput(std::string_view text)
{
    std::signal(SIGPIPE, SIG_IGN);
    while (!text.empty() && m_pImpl->m_hIn >= 0) {
        const ssize_t n = ::write(m_pImpl->m_hIn, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ChildProcess::CloseInput()
{
    Impl::CloseFd(m_pImpl->m_hIn);
}

bool ChildProcess::WaitForOutput(std::string_view needle, std::chrono::milliseconds limit)
{
    return m_pImpl->WaitFor(&Impl::m_strOut, needle, limit);
}

bool ChildProcess::WaitForError(std::string_view needle, std::chrono::milliseconds limit)
{
    return m_pImpl->WaitFor(&Impl::m_strErr, needle, limit);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds limit)
{
    Impl& impl = *m_pImpl;
    if (impl.m_pid <= 0) {
        return std::nullopt;
    }
    bool bKilled = false;
    {
        std::unique_lock lock(impl.m_mutex);
        if (!impl.m_cv.wait_for(lock, limit, [&] { return impl.m_bStreamsClosed; })) {
            ::kill(impl.m_pid, SIGKILL);  // our own child, by its id
            bKilled = true;
        }
    }
    int status = 0;
    while (::waitpid(impl.m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    impl.m_pid = -1;
    if (impl.m_reader.joinable()) {
        impl.m_reader.join();
    }
    Impl::CloseFd(impl.m_hOut);
    Impl::CloseFd(impl.m_hErr);
    if (bKilled || !WIFEXITED(status)) {
        return std::nullopt;
    }
    return WEXITSTATUS(status);
}

std::string ChildProcess::Output() const
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_strOut;
}

std::string ChildProcess::Error() const
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_strErr;
}

RunResult RunProgram(const std::vector<std::string>& args, std::string_view input, std::chrono::milliseconds limit)
{
    ChildProcess child;
    RunResult result;
    if (!child.Start(args)) {
        return result;
    }
    child.WriteInput(input);
    child.CloseInput();
    result.m_nStatus = child.Wait(limit);
    result.m_strOut = child.Output();
    result.m_strErr = child.Error();
    return result;
}

}  // namespace varnis::test
