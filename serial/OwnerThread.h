// The synchronous, cancellable hand-over of work to an owner's thread.
#pragma once

#include "serial/SerialNotify.h"

#include <functional>
#include <memory>

namespace varnis {

// Runs callables on the owner's thread, in the order posted. Implemented by
// the Qt front end (queued invocation) and by EventLoop below.
class IOwnerThread {
public:
    virtual ~IOwnerThread() = default;
    // Thread-safe; returns at once. The callable runs later on the owner's thread.
    virtual void Post(std::function<void()> fn) = 0;
};

// Runs `fn` on the owner's thread and waits until it has returned, or until
// `cancel` is signalled, or until `channel` is closed. Returns true when `fn`
// ran to its end. Whether a call starts is decided on the owner's thread when
// its turn comes: once `cancel` is signalled or the channel closed, a call
// that has not started never starts, even if its waiter has not woken up yet
// (so a stop requested on the owner's thread is decisive the moment it is
// made). A call that the owner's thread drops unrun (its loop went away)
// returns false as well. A call already running when the wait is cancelled
// goes on to its end on the owner's thread, keeping alive what it captured;
// the caller does not wait for it. Safe to call from any thread but the
// owner's (called there it would wait on itself). `cancel` must stay valid
// while the call waits.
class HandOverChannel {
public:
    explicit HandOverChannel(IOwnerThread& owner);
    ~HandOverChannel();  // closes: calls in flight return, later ones do nothing
    HandOverChannel(const HandOverChannel&) = delete;
    HandOverChannel& operator=(const HandOverChannel&) = delete;

    bool RunAndWait(std::function<void()> fn, const CancelSignal& cancel);
    void Close();

private:
    struct Shared;
    std::shared_ptr<Shared> m_pShared;
    IOwnerThread* m_pOwner = nullptr;
};

// An ISerialOwner that delivers each notification to `handler` on the owner's
// thread through a HandOverChannel. Close may be called at any time: a
// notification in flight returns and later ones are dropped. Destroy it only
// once no engine can call it any more (after the engine's destruction or its
// next Initialise with another owner).
class SerialOwnerChannel : public ISerialOwner {
public:
    using Handler = std::function<void(const SerialNotification&)>;
    SerialOwnerChannel(IOwnerThread& owner, Handler handler);
    void DeliverNotification(const SerialNotification& n, const CancelSignal& cancel) override;
    void Close();  // the owner is going away

private:
    // Shared with calls in flight, so a call that outlives a cancelled wait
    // still has its handler.
    std::shared_ptr<const Handler> m_pHandler;
    HandOverChannel m_channel;
};

}  // namespace varnis
