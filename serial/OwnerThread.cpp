#include "serial/OwnerThread.h"

#include "serial/EventFlag.h"

#include <array>
#include <atomic>

namespace varnis {

struct HandOverChannel::Shared {
    EventFlag m_closed;  // set once by Close
    std::atomic<bool> m_bClosed{false};
};

namespace {

enum CallState : int { CallPending = 0, CallRunning = 1, CallDone = 2, CallAbandoned = 3 };

// What a waiting thread sleeps on. One per thread that waits, made once and
// reused by all its calls; shared with the calls, so a call that ends after
// its waiter has gone never writes to a closed descriptor.
std::shared_ptr<const EventFlag> WakeFlagOfThisThread()
{
    thread_local std::shared_ptr<const EventFlag> pFlag;
    if (!pFlag) {
        auto pNew = std::make_shared<EventFlag>();
        if (!pNew->Create()) {
            return nullptr;
        }
        pFlag = std::move(pNew);
    }
    return pFlag;
}

// One hand-over. The waiter and the posted callable share it; whichever
// moves it out of Pending first decides whether `fn` runs.
struct Call {
    std::atomic<int> m_nState{CallPending};
    std::shared_ptr<const EventFlag> m_pWake;

    // Pending -> `nState`, then wakes the waiter. False if it had left Pending.
    bool Leave(int nState)
    {
        int nPending = CallPending;
        if (!m_nState.compare_exchange_strong(nPending, nState)) {
            return false;
        }
        if (nState != CallRunning) {
            m_pWake->Set();
        }
        return true;
    }
};

// Travels with the posted callable. If the owner's thread drops the callable
// unrun, its destruction tells the waiter that the call will never run.
struct Ticket {
    std::shared_ptr<Call> m_pCall;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    explicit Ticket(std::shared_ptr<Call> pCall) : m_pCall(std::move(pCall)) {}
    ~Ticket() { m_pCall->Leave(CallAbandoned); }
};

}  // namespace

HandOverChannel::HandOverChannel(IOwnerThread& owner) : m_pShared(std::make_shared<Shared>()), m_pOwner(&owner)
{
    m_pShared->m_closed.Create();
}

HandOverChannel::~HandOverChannel()
{
    Close();
}

void HandOverChannel::Close()
{
    if (!m_pShared->m_bClosed.exchange(true)) {
        m_pShared->m_closed.Set();
    }
}

bool HandOverChannel::RunAndWait(std::function<void()> fn, const CancelSignal& cancel)
{
    const std::shared_ptr<Shared> pShared = m_pShared;
    if (pShared->m_bClosed.load() || cancel.IsSignalled()) {
        return false;
    }
    auto pCall = std::make_shared<Call>();
    pCall->m_pWake = WakeFlagOfThisThread();
    if (!pCall->m_pWake || !pShared->m_closed.IsCreated()) {
        return false;  // no descriptors left: nothing can be waited for
    }
    auto pTicket = std::make_shared<Ticket>(pCall);
    m_pOwner->Post([pShared, pTicket, cancel, body = std::move(fn)]() {
        Call& call = *pTicket->m_pCall;
        if (call.m_nState.load() != CallPending) {
            return;  // the waiter gave up first
        }
        // Decided here, on the owner's thread: once the owner has closed the
        // channel or requested the stop (Close, the next Initialise), a call
        // that has not started never starts, however far its waiter has got.
        // While the call is pending its waiter still waits, so the engine
        // that owns `cancel` is still there to be asked.
        if (pShared->m_bClosed.load() || cancel.IsSignalled()) {
            call.Leave(CallAbandoned);
            return;
        }
        if (!call.Leave(CallRunning)) {
            return;
        }
        body();
        call.m_nState.store(CallDone);
        call.m_pWake->Set();
    });
    pTicket.reset();

    const std::array<NativeHandle, 3> handles{pCall->m_pWake->Handle(), pShared->m_closed.Handle(), cancel.m_hEvent};
    for (;;) {
        const int nReady = WaitForAny(handles, -1);
        if (nReady == 0) {
            // The flag is this thread's: it may still carry the wake-up of an
            // earlier call that ended after its waiter had gone. Only this
            // call's own state counts.
            pCall->m_pWake->Reset();
            const int nState = pCall->m_nState.load();
            if (nState == CallDone || nState == CallAbandoned) {
                return nState == CallDone;
            }
            if (!pShared->m_closed.IsSet() && !IsHandleSignalled(cancel.m_hEvent)) {
                continue;
            }
        }
        // Cancelled, closed, or the wait itself failed: a call that has not
        // started never will.
        int nPending = CallPending;
        if (pCall->m_nState.compare_exchange_strong(nPending, CallAbandoned)) {
            return false;
        }
        // It is running (or has just ended) on the owner's thread; do not
        // wait for it, the owner may be the one asking us to stop.
        return pCall->m_nState.load() == CallDone;
    }
}

SerialOwnerChannel::SerialOwnerChannel(IOwnerThread& owner, Handler handler)
    : m_pHandler(std::make_shared<const Handler>(std::move(handler))), m_channel(owner)
{
}

void SerialOwnerChannel::DeliverNotification(const SerialNotification& n, const CancelSignal& cancel)
{
    m_channel.RunAndWait([pHandler = m_pHandler, n]() { (*pHandler)(n); }, cancel);
}

void SerialOwnerChannel::Close()
{
    m_channel.Close();
}

}  // namespace varnis
