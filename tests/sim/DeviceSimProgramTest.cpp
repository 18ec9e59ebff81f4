#include "sim/SimTestLine.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

extern char** environ;

namespace varnis {
namespace {

using namespace std::chrono_literals;
using simtest::TestLine;

// The program running with its standard output and error on pipes.
class Program {
public:
    explicit Program(std::vector<std::string> args)
    {
        std::array<int, 2> out{-1, -1};
        std::array<int, 2> err{-1, -1};
        if (::pipe2(out.data(), O_CLOEXEC) != 0 || ::pipe2(err.data(), O_CLOEXEC) != 0) {
            return;
        }
        m_hOut.Reset(out[0]);
        m_hErr.Reset(err[0]);
        UniqueFd outWrite(out[1]);
        UniqueFd errWrite(err[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), 1);
        posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), 2);
        args.insert(args.begin(), VARNIS_DEVICE_SIM_BIN);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_pid > 0; }

    // One line of standard output, without its newline; empty on time-out.
    std::string ReadLine(std::chrono::milliseconds limit)
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{m_hOut.Get(), POLLIN, 0};
            if (::poll(&pfd, 1, 100) <= 0) {
                continue;
            }
            char c = 0;
            if (::read(m_hOut.Get(), &c, 1) != 1) {
                break;
            }
            if (c == '\n') {
                return line;
            }
            line += c;
        }
        return {};
    }

    // Waits for the end; the exit status, or -1 when it did not end within `limit`
    // (or ended by a signal).
    int Wait(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int nStatus = 0;
            if (::waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
            }
            ::usleep(10000);
        }
        return -1;
    }

    // Everything left on a stream once the program has ended.
    static std::string Drain(const UniqueFd& hFd)
    {
        std::string text;
        std::array<char, 512> buf{};
        ssize_t n = 0;
        while ((n = ::read(hFd.Get(), buf.data(), buf.size())) > 0) {
            text.append(buf.data(), static_cast<std::size_t>(n));
        }
        return text;
    }
    // Only once the program has ended: a running one would hold the pipes open.
    std::string RestOfOutput() const { return m_pid < 0 ? Drain(m_hOut) : std::string(); }
    std::string Errors() const { return m_pid < 0 ? Drain(m_hErr) : std::string(); }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    UniqueFd m_hOut;
    UniqueFd m_hErr;
};

TEST(DeviceSimProgramTest, HelpListsTheOptions)
{
    Program program({"--help"});
    ASSERT_TRUE(program.Started());
    EXPECT_EQ(program.Wait(10s), 0);
    const std::string text = program.RestOfOutput();
    for (const char* option : {"--device", "--ack-delay", "--write-time", "--fail", "--silent", "--late-ack",
                               "--never-announce", "--bad-check", "--noise", "--hang-up", "--quiet"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
}

TEST(DeviceSimProgramTest, BadOptionsEndWithOneLineAndStatusTwo)
{
    const std::vector<std::vector<std::string>> cases{
        {"--frobnicate"}, {"--ack-delay", "soon"}, {"--fail", "0"}, {"--write-time"}, {"--silent", "--noise"}};
    for (const auto& args : cases) {
        Program program(args);
        ASSERT_TRUE(program.Started());
        EXPECT_EQ(program.Wait(10s), 2) << args[0];
        const std::string errors = program.Errors();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_TRUE(program.RestOfOutput().empty());
    }
}

TEST(DeviceSimProgramTest, ServesAPseudoTerminalAndEndsCleanlyOnSigint)
{
    // The test answers the announcement itself; a long ACK wait keeps a busy
    // machine from making the device give up first.
    Program program({"--write-time", "0", "--ack-wait", "10000"});
    ASSERT_TRUE(program.Started());
    const std::string path = program.ReadLine(10s);
    ASSERT_FALSE(path.empty());
    TestLine line(path);
    ASSERT_TRUE(line.IsOpen()) << path;
    ASSERT_TRUE(line.WriteByte(kStx));
    EXPECT_EQ(line.Read(1, 5s), std::vector<std::uint8_t>{kAck});

    // A whole exchange shows up in the log with the decoded settings.
    ASSERT_TRUE(line.WriteByte(kStx));
    ASSERT_EQ(line.Read(1, 5s), std::vector<std::uint8_t>{kAck});
    ASSERT_TRUE(line.Write(simtest::DefaultConfigurationFrame()));
    ASSERT_EQ(line.Read(1, 5s), std::vector<std::uint8_t>{kStx});
    ASSERT_TRUE(line.WriteByte(kAck));
    EXPECT_EQ(line.Read(5, 5s).size(), 5u);

    ASSERT_EQ(::kill(program.Pid(), SIGINT), 0);
    EXPECT_EQ(program.Wait(10s), 0);
    const std::string log = program.RestOfOutput();
    EXPECT_NE(log.find("the card would carry"), std::string::npos) << log;
    EXPECT_NE(log.find("reply sent: AA 00 00 AA 03"), std::string::npos) << log;
    EXPECT_TRUE(line.SeesHangUp(3s)) << "the line goes with the program";
}

}  // namespace
}  // namespace varnis
