#include "serial/SerialNotify.h"

#include <poll.h>
#include <unistd.h>

#include <memory>
#include <mutex>

namespace varnis {

bool CancelSignal::IsSignalled() const
{
    if (m_pbSignalled != nullptr) {
        return m_pbSignalled->load();
    }
    if (m_nFd < 0) {
        return false;
    }
    pollfd entry{m_nFd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

namespace {
std::mutex g_traceMutex;
std::shared_ptr<const TraceSink> g_pTraceSink;  // null: standard error
}  // namespace

void SetTraceSink(TraceSink sink)
{
    std::shared_ptr<const TraceSink> pSink;
    if (sink) {
        pSink = std::make_shared<const TraceSink>(std::move(sink));
    }
    const std::lock_guard lock(g_traceMutex);
    g_pTraceSink = std::move(pSink);
}

void Trace(std::string_view line)
{
    std::shared_ptr<const TraceSink> pSink;
    {
        const std::lock_guard lock(g_traceMutex);
        pSink = g_pTraceSink;
    }
    if (pSink) {
        (*pSink)(line);
        return;
    }
    // One write per line, so lines of two threads do not interleave.
    [[maybe_unused]] const ssize_t nDone = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace varnis
