// Each Send is written once, whatever the timing between Send on the owner's
// thread and the monitoring thread taking the request.
#include "serial/LibcSeams.h"
#include "serial/SerialEngineFixture.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

namespace {
// While set, every read of an event counter by a thread other than the test's
// own takes 300 us longer: the moment between taking a request and taking
// its data grows from nanoseconds to something a Send can land in.
std::atomic<bool> g_bSlowRequests{false};
pthread_t g_testThread;

bool IsEventCounter(int hFd)
{
    std::array<char, 64> path{};
    std::array<char, 64> target{};
    std::snprintf(path.data(), path.size(), "/proc/self/fd/%d", hFd);
    const ssize_t nLength = ::readlink(path.data(), target.data(), target.size() - 1);
    return nLength > 0 && std::string_view(target.data(), static_cast<std::size_t>(nLength)) == "anon_inode:[eventfd]";
}

// The slowdown itself, after every read the engine's thread makes.
void SlowEventCounterReads(int hFd, std::size_t nCount, ssize_t)
{
    if (g_bSlowRequests.load() && nCount == 8 && !::pthread_equal(::pthread_self(), g_testThread) &&
        IsEventCounter(hFd)) {
        ::usleep(300);
    }
}
}  // namespace

namespace varnis::test {
namespace {

// Two Sends in a row, then a wait until the second is on the line and a
// little longer: the thread is taking the first request just as the second
// lands, and a second copy would go out in that time. No data may go out
// twice, and the last Send's always goes out. (The purge before each
// write may cut a message the far end has not read yet; that is the line's
// rule, not a fault.)
TEST_F(SerialEngineTest, EachSendIsWrittenAtMostOnceAndTheLastOneAlways)
{
    ASSERT_TRUE(OpenAndStart());
    constexpr int kPairs = 600;
    std::string line;
    std::atomic<int> nAwaited{-1};
    std::atomic<bool> bDone{false};
    EventFlag arrived;
    ASSERT_TRUE(arrived.Create());
    std::thread farEnd([&] {
        while (!bDone.load()) {
            pollfd entry{m_pty.Master(), POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0) {
                continue;
            }
            std::array<char, 4096> buffer{};
            const ssize_t nRead = ::read(m_pty.Master(), buffer.data(), buffer.size());
            if (nRead <= 0) {
                continue;
            }
            line.append(buffer.data(), static_cast<std::size_t>(nRead));
            const std::size_t nFrom = line.size() > 64 ? line.size() - 64 : 0;
            if (line.find(FormatText("<%05d>", nAwaited.load()), nFrom) != std::string::npos) {
                arrived.Set();
            }
        }
    });
    g_testThread = ::pthread_self();
    seams::g_afterRead = &SlowEventCounterReads;
    g_bSlowRequests = true;
    for (int i = 0; i < kPairs; ++i) {
        arrived.Reset();
        nAwaited = 2 * i + 1;
        m_port.Send(FormatText("<%05d>", 2 * i).c_str());
        m_port.Send(FormatText("<%05d>", 2 * i + 1).c_str());
        if (!arrived.Wait(5000)) {
            ADD_FAILURE() << "the last Send of pair " << i << " never went out";
            break;
        }
        m_loop.RunFor(2ms);
    }
    m_loop.RunFor(20ms);  // a second copy would be on its way by now
    g_bSlowRequests = false;
    seams::g_afterRead = nullptr;
    bDone = true;
    farEnd.join();

    std::map<std::string, int> seen;
    for (std::size_t at = line.find('<'); at != std::string::npos; at = line.find('<', at + 1)) {
        const std::string token = line.substr(at, 7);
        if (token.size() == 7 && token.back() == '>' && token.find_first_not_of("0123456789", 1) == 6) {
            EXPECT_EQ(++seen[token], 1) << token << " went out twice";
        }
    }
}

}  // namespace
}  // namespace varnis::test
