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
// ran to its end. A cancelled or abandoned call that has not started yet
// never starts. Safe to call from any thread but the owner's.
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
};

// An ISerialOwner that delivers each notification to `handler` on the owner's
// thread through a HandOverChannel.
class SerialOwnerChannel : public ISerialOwner {
public:
    using Handler = std::function<void(const SerialNotification&)>;
    SerialOwnerChannel(IOwnerThread& owner, Handler handler);
    void DeliverNotification(const SerialNotification& n, const CancelSignal& cancel) override;
    void Close();  // the owner is going away

private:
    HandOverChannel m_channel;
    Handler m_handler;
};

}  // namespace varnis
