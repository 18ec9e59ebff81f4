#include "serial/EventLoop.h"

#include "serial/EventFlag.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <mutex>

namespace varnis {

namespace {
using Clock = std::chrono::steady_clock;

struct LoopTimer {
    std::chrono::milliseconds m_period{0};
    Clock::time_point m_due;
    std::function<void()> m_onExpiry;
};
}  // namespace

struct EventLoop::Impl {
    EventFlag m_wake;  // set by Post, reset by the loop just before it would sleep
    std::mutex m_postMutex;
    std::deque<std::function<void()>> m_posted;  // guarded by m_postMutex
    std::map<int, LoopTimer> m_timers;           // the loop's thread only

    bool HasPosted()
    {
        const std::lock_guard lock(m_postMutex);
        return !m_posted.empty();
    }

    bool RunOnePosted()
    {
        std::function<void()> fn;
        {
            const std::lock_guard lock(m_postMutex);
            if (m_posted.empty()) {
                return false;
            }
            fn = std::move(m_posted.front());
            m_posted.pop_front();
        }
        fn();
        return true;
    }

    // Fires the most overdue timer, if any. A late timer fires once and its
    // next expiry counts from now, as window timers do.
    bool RunOneDueTimer(Clock::time_point now)
    {
        auto due = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second.m_due <= now && (due == m_timers.end() || it->second.m_due < due->second.m_due)) {
                due = it;
            }
        }
        if (due == m_timers.end()) {
            return false;
        }
        due->second.m_due = now + due->second.m_period;
        // A copy: the callback may stop or restart its own timer.
        const std::function<void()> onExpiry = due->second.m_onExpiry;
        onExpiry();
        return true;
    }

    Clock::time_point NextTimerDue(Clock::time_point limit) const
    {
        for (const auto& [nId, timer] : m_timers) {
            limit = std::min(limit, timer.m_due);
        }
        return limit;
    }
};

EventLoop::EventLoop() : m_pImpl(std::make_unique<Impl>())
{
    m_pImpl->m_wake.Create();
}

EventLoop::~EventLoop()
{
    // Callables still queued are dropped unrun (outside the lock: dropping
    // one may wake a thread that waits for it).
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard lock(m_pImpl->m_postMutex);
        dropped.swap(m_pImpl->m_posted);
    }
}

void EventLoop::Post(std::function<void()> fn)
{
    {
        const std::lock_guard lock(m_pImpl->m_postMutex);
        m_pImpl->m_posted.push_back(std::move(fn));
    }
    m_pImpl->m_wake.Set();
}

void EventLoop::StartTimer(int nId, int nMilliseconds, std::function<void()> onExpiry)
{
    const std::chrono::milliseconds period(std::max(nMilliseconds, 1));
    m_pImpl->m_timers[nId] = LoopTimer{period, Clock::now() + period, std::move(onExpiry)};
}

void EventLoop::StopTimer(int nId)
{
    m_pImpl->m_timers.erase(nId);
}

bool EventLoop::IsTimerRunning(int nId) const
{
    return m_pImpl->m_timers.contains(nId);
}

bool EventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        if (done()) {
            return true;
        }
        if (m_pImpl->RunOnePosted()) {
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (m_pImpl->RunOneDueTimer(now)) {
            continue;
        }
        if (now >= deadline) {
            return false;
        }
        // About to sleep: take the wake-up down, then look once more, so a
        // Post that came in between is served, not slept through.
        m_pImpl->m_wake.Reset();
        if (m_pImpl->HasPosted()) {
            continue;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_pImpl->NextTimerDue(deadline) - now);
        const std::array<NativeHandle, 1> handles{m_pImpl->m_wake.Handle()};
        const int nReady = WaitForAny(handles, static_cast<int>(std::clamp<long long>(wait.count(), 0, 1 << 30)));
        if (nReady == kWaitFailed) {
            return done();  // cannot wait; never spin
        }
    }
}

void EventLoop::RunFor(std::chrono::milliseconds duration)
{
    RunUntil([] { return false; }, duration);
}

}  // namespace varnis
