#include "serial/SerialNotify.h"

#include "serial/EventFlag.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace varnis {

bool CancelSignal::IsSignalled() const
{
    if (m_pbSignalled != nullptr) {
        return m_pbSignalled->load();
    }
    return IsHandleSignalled(m_hEvent);
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
    // One call per line: the stream's own lock keeps lines of two threads apart.
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace varnis
