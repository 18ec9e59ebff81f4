// Test helpers for the serial engine: the far end of a test line, recording
// fakes for the owner and the error reporter, a trace recorder.
#pragma once

#include "serial/EventFlag.h"
#include "serial/EventLoop.h"
#include "serial/PtyPair.h"
#include "serial/SerialNotify.h"
#include "serial/Text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnis::test {

using namespace std::chrono_literals;

struct ReportRecord {
    std::string m_text;
    std::string m_caption;
    bool m_bCancellable = false;
};

// Records the error texts instead of showing boxes.
class RecordingReporter : public IErrorReporter {
public:
    void ReportError(std::string_view text, std::string_view caption, const CancelSignal& cancel) override
    {
        const std::lock_guard lock(m_mutex);
        m_reports.push_back({std::string(text), std::string(caption), cancel.m_hEvent != kNoNativeHandle});
    }
    std::vector<ReportRecord> Reports() const
    {
        const std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<ReportRecord> m_reports;
};

// Captures trace lines for the life of the object.
class TraceRecorder {
public:
    TraceRecorder()
    {
        SetTraceSink([this](std::string_view line) {
            const std::lock_guard lock(m_mutex);
            m_lines.emplace_back(line);
        });
    }
    ~TraceRecorder() { SetTraceSink(nullptr); }
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    std::vector<std::string> Lines() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lines;
    }
    int Count(std::string_view line) const
    {
        int nCount = 0;
        for (const std::string& each : Lines()) {
            nCount += each == line ? 1 : 0;
        }
        return nCount;
    }
    int CountContaining(std::string_view part) const
    {
        int nCount = 0;
        for (const std::string& each : Lines()) {
            nCount += each.find(part) != std::string::npos ? 1 : 0;
        }
        return nCount;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// An owner whose handler blocks until released or cancelled: a notification
// stays in flight for as long as the test wishes.
class BlockingOwner : public ISerialOwner {
public:
    BlockingOwner()
    {
        m_release.Create();
        m_entered.Create();
    }
    void DeliverNotification(const SerialNotification& n, const CancelSignal& cancel) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_seen.push_back(n);
        }
        m_entered.Set();
        const std::array<NativeHandle, 2> handles{cancel.m_hEvent, m_release.Handle()};
        const bool bCancelled = WaitForAny(handles, -1) == 0;
        m_nLeft.fetch_add(1);
        if (bCancelled) {
            m_nCancelled.fetch_add(1);
        }
    }
    bool WaitEntered(std::chrono::milliseconds limit) const { return m_entered.Wait(static_cast<int>(limit.count())); }
    void Release() const { m_release.Set(); }
    int Left() const { return m_nLeft.load(); }
    int Cancelled() const { return m_nCancelled.load(); }
    std::vector<SerialNotification> Seen() const
    {
        const std::lock_guard lock(m_mutex);
        return m_seen;
    }

private:
    EventFlag m_release;
    EventFlag m_entered;
    std::atomic<int> m_nLeft{0};
    std::atomic<int> m_nCancelled{0};
    mutable std::mutex m_mutex;
    std::vector<SerialNotification> m_seen;
};

// Counts what is posted to an event loop (so a test knows a hand-over is in flight).
class CountingOwnerThread : public IOwnerThread {
public:
    explicit CountingOwnerThread(IOwnerThread& target) : m_target(target) {}
    void Post(std::function<void()> fn) override
    {
        m_target.Post(std::move(fn));
        m_nPosts.fetch_add(1);
    }
    int Posts() const { return m_nPosts.load(); }

private:
    IOwnerThread& m_target;
    std::atomic<int> m_nPosts{0};
};

// Keeps what is posted instead of running it, until the test runs it on its
// own thread. With m_bHold set, the posting thread also stays inside Post
// until Release: a hand-over caught half delivered.
class HoldingOwnerThread : public IOwnerThread {
public:
    HoldingOwnerThread()
    {
        m_posted.Create();
        m_release.Create();
    }
    void Post(std::function<void()> fn) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(fn));
        }
        m_posted.Set();
        if (m_bHold.load()) {
            m_release.Wait(-1);
        }
    }
    bool WaitPosted(std::chrono::milliseconds limit)
    {
        const bool bPosted = m_posted.Wait(static_cast<int>(limit.count()));
        m_posted.Reset();
        return bPosted;
    }
    void RunQueued()
    {
        std::vector<std::function<void()>> queue;
        {
            const std::lock_guard lock(m_mutex);
            queue.swap(m_queue);
        }
        for (const auto& fn : queue) {
            fn();
        }
    }
    void Release() const { m_release.Set(); }

    std::atomic<bool> m_bHold{false};

private:
    EventFlag m_posted;
    EventFlag m_release;
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_queue;
};

// Waits (sleeping, bounded) for a condition another thread makes true.
template <typename Predicate>
bool Eventually(Predicate predicate, std::chrono::milliseconds limit = 5000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

}  // namespace varnis::test
