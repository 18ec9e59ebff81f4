// A small single-threaded event loop for owners without a GUI toolkit (the
// command line, the tests): posted callables and window-style timers, served
// one at a time on the thread that runs the loop. Idle, it sleeps in the
// system's wait and uses no CPU.
#pragma once

#include "serial/OwnerThread.h"

#include <chrono>
#include <functional>

namespace varnis {

class EventLoop : public IOwnerThread {
public:
    EventLoop();
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void Post(std::function<void()> fn) override;  // any thread

    // Window timers (owner's thread only): periodic until stopped; starting a
    // running id restarts it with the new period.
    void StartTimer(int nId, int nMilliseconds, std::function<void()> onExpiry);
    void StopTimer(int nId);
    bool IsTimerRunning(int nId) const;

    // Serve events until `done()` is true or `limit` has passed; true if done.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    void RunFor(std::chrono::milliseconds duration);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace varnis
