// A port another program holds is in use, however it holds it: its
// exclusive mark (root can open past it), its lock file, or its lock. A port
// found in use is left exactly as found.
#include "serial/PortDiagnosis.h"
#include "serial/SerialNotify.h"
#include "serial/SerialEngineFixture.h"
#include "serial/posix/ExclusiveOpen.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace varnis::test {
namespace {

int ExclusiveMark(int hFd)
{
    int nMarked = -1;
    ::ioctl(hFd, TIOCGEXCL, &nMarked);
    return nMarked;
}

std::string ProcessName(pid_t nPid)
{
    std::ifstream comm("/proc/" + std::to_string(nPid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

pid_t DeadPid()
{
    const pid_t nChild = ::fork();
    if (nChild == 0) {
        ::_exit(0);
    }
    ::waitpid(nChild, nullptr, 0);
    return nChild;
}

class PortLockTest : public SerialEngineTest {
protected:
    void SetUp() override
    {
        SerialEngineTest::SetUp();
        std::string dir = "/tmp/varnis-locks-XXXXXX";
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        m_lockDir = dir;
        SetPortLockDirectory(m_lockDir);
        const std::string& path = m_pty.SlavePath();
        m_lockFile = m_lockDir + "/LCK.." + path.substr(path.rfind('/') + 1);
    }
    void TearDown() override
    {
        std::remove(m_lockFile.c_str());
        std::remove(m_lockDir.c_str());
        SetPortLockDirectory("/var/lock");
    }
    void WriteLockFile(const std::string& content) const
    {
        std::ofstream file(m_lockFile, std::ios::binary | std::ios::trunc);
        file << content;
    }

    std::string m_lockDir;
    std::string m_lockFile;
};

TEST_F(PortLockTest, APortHeldByAnotherProgramIsInUseAndLeftAsFound)
{
    const pid_t nLive = ::getppid();
    const std::string live = std::to_string(nLive);
    const int nBinaryPid = static_cast<int>(nLive);
    struct Case {
        const char* m_name;
        std::function<void()> m_hold;
        std::string m_strDiagnosis;  // empty: free
    };
    const std::vector<Case> cases{
        {"nothing", [] {}, ""},
        {"exclusive mark", [&] { ::ioctl(m_pty.Slave(), TIOCEXCL); }, "in use by "},
        {"lock file, text", [&] { WriteLockFile("      " + live + "\n"); },
         "in use by " + ProcessName(nLive) + " (pid " + live + ")"},
        {"lock file, binary", [&] { WriteLockFile(std::string(reinterpret_cast<const char*>(&nBinaryPid), 4)); },
         "in use by " + ProcessName(nLive) + " (pid " + live + ")"},
        {"stale lock file", [&] { WriteLockFile(std::to_string(DeadPid()) + "\n"); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_name);
        c.m_hold();
        const int nMarkBefore = ExclusiveMark(m_pty.Slave());
        const PortDiagnosis diagnosis = DiagnosePort(m_pty.SlavePath());
        EXPECT_EQ(ExclusiveMark(m_pty.Slave()), nMarkBefore);
        if (c.m_strDiagnosis.empty()) {
            EXPECT_EQ(diagnosis.m_strText, "can be opened");
            ASSERT_TRUE(Open());
            EXPECT_EQ(m_port.LastOpenFailure().m_eProblem, PortProblem::None);
            EXPECT_EQ(ExclusiveMark(m_pty.Slave()), 1);
            m_port.Close();
        } else {
            EXPECT_EQ(diagnosis.m_eProblem, PortProblem::InUse);
            EXPECT_TRUE(diagnosis.m_strText.starts_with(c.m_strDiagnosis)) << diagnosis.m_strText;
            EXPECT_FALSE(Open());
            // The engine keeps why, as the system said it when it tried.
            EXPECT_EQ(m_port.LastOpenFailure().m_strText, diagnosis.m_strText);
        }
        EXPECT_EQ(ExclusiveMark(m_pty.Slave()), nMarkBefore);  // a mark of ours is ours to clear, no other
        EXPECT_TRUE(m_reporter.Reports().empty());
        ::ioctl(m_pty.Slave(), TIOCNXCL);
        std::remove(m_lockFile.c_str());
    }
}

// The lock file of another user's live process: kill(pid, 0) then fails
// with EPERM, and the port is still in use. Seen from a child that has
// dropped to an unprivileged user, the lock naming this (root's) process.
TEST_F(PortLockTest, ALockOfAnotherUsersLiveProcessIsInUse)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop to another user";
    }
    const pid_t nHolder = ::getpid();
    WriteLockFile(std::to_string(nHolder) + "\n");
    ASSERT_EQ(::chmod(m_lockDir.c_str(), 0755), 0);
    const pid_t nChild = ::fork();
    if (nChild == 0) {
        const bool bDropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(bDropped && LiveLockFileHolder(m_pty.SlavePath()) == nHolder ? 0 : 1);
    }
    int nStatus = -1;
    ASSERT_EQ(::waitpid(nChild, &nStatus, 0), nChild);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
}

// A process of the unprivileged user 65534 that lives until the test ends it.
class UnprivilegedProcess {
public:
    UnprivilegedProcess()
    {
        std::array<int, 2> up{};
        if (::pipe(up.data()) != 0 || ::pipe(m_end.data()) != 0) {
            return;
        }
        m_nPid = ::fork();
        if (m_nPid == 0) {
            ::close(up[0]);
            ::close(m_end[1]);  // the end is the test's closing its own
            const bool bDropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
            const char c = bDropped ? 'u' : 'x';
            [[maybe_unused]] const ssize_t nWritten = ::write(up[1], &c, 1);
            char end = 0;
            [[maybe_unused]] const ssize_t nRead = ::read(m_end[0], &end, 1);  // until the write end is closed
            ::_exit(0);
        }
        ::close(up[1]);
        ::close(m_end[0]);
        char c = 0;
        m_bDropped = ::read(up[0], &c, 1) == 1 && c == 'u';
        ::close(up[0]);
    }
    ~UnprivilegedProcess()
    {
        ::close(m_end[1]);
        if (m_nPid > 0) {
            ::waitpid(m_nPid, nullptr, 0);
        }
    }
    UnprivilegedProcess(const UnprivilegedProcess&) = delete;
    UnprivilegedProcess& operator=(const UnprivilegedProcess&) = delete;
    pid_t Pid() const { return m_bDropped ? m_nPid : 0; }

private:
    std::array<int, 2> m_end{-1, -1};
    pid_t m_nPid = -1;
    bool m_bDropped = false;
};

// The lock directory is everyone's: a live process's lock file counts only
// when root or that process's own user owns it. Any other is passed over,
// and the trace says which file and whose.
TEST_F(PortLockTest, ALockFileCountsOnlyWhenRootOrTheHoldersUserOwnsIt)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files and processes to another user";
    }
    const UnprivilegedProcess unprivileged;
    ASSERT_NE(unprivileged.Pid(), 0);
    const pid_t nRootProcess = ::getppid();
    struct Case {
        pid_t m_nNamed;
        uid_t m_nFileOwner;
        bool m_bInUse;
    };
    const std::vector<Case> cases{
        {nRootProcess, 0, true},
        {unprivileged.Pid(), 65534, true},
        {unprivileged.Pid(), 0, true},
        {nRootProcess, 65534, false},
    };
    std::vector<std::string> traced;
    SetTraceSink([&traced](std::string_view line) { traced.emplace_back(line); });
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.m_nNamed) + " in a file of uid " + std::to_string(c.m_nFileOwner));
        traced.clear();
        WriteLockFile(std::to_string(c.m_nNamed) + "\n");
        ASSERT_EQ(::chown(m_lockFile.c_str(), c.m_nFileOwner, c.m_nFileOwner), 0);
        const PortLockFileState state = ReadPortLockFile(m_pty.SlavePath());
        EXPECT_EQ(state.m_nHolder, c.m_bInUse ? c.m_nNamed : 0);
        EXPECT_EQ(DiagnosePort(m_pty.SlavePath()).m_eProblem, c.m_bInUse ? PortProblem::InUse : PortProblem::None);
        EXPECT_EQ(Open(), !c.m_bInUse);
        m_port.Close();
        const std::string passedOver = "lock file " + m_lockFile + " of nobody (uid 65534) passed over: it names pid " +
                                       std::to_string(c.m_nNamed) + ", a process of root (uid 0)";
        EXPECT_EQ(state.m_strPassedOver, c.m_bInUse ? "" : passedOver);
        EXPECT_EQ(std::count(traced.begin(), traced.end(), passedOver + "\n"), c.m_bInUse ? 0 : 2);  // diagnosis, open
    }
    SetTraceSink({});
}

}  // namespace
}  // namespace varnis::test
