#include "serial/OwnerThread.h"

#include "serial/Fd.h"

#include <poll.h>

#include <array>
#include <atomic>
#include <cerrno>

namespace varnis {

struct HandOverChannel::Shared {
    EventFlag m_closed;  // set once by Close
    std::atomic<bool> m_bClosed{false};
};

namespace {

enum CallState : int { CallPending = 0, CallRunning = 1, CallDone = 2, CallAbandoned = 3 };

// One hand-over. The waiter and the posted callable share it; whichever
// moves it out of Pending first decides whether `fn` runs.
struct Call {
    std::atomic<int> m_nState{CallPending};
    EventFlag m_finished;  // set when the call is done or will never run
};

// Travels with the posted callable. If the owner's thread drops the callable
// unrun, its destruction tells the waiter that the call will never run.
struct Ticket {
    std::shared_ptr<Call> m_pCall;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    explicit Ticket(std::shared_ptr<Call> pCall) : m_pCall(std::move(pCall)) {}
    ~Ticket()
    {
        int nPending = CallPending;
        if (m_pCall->m_nState.compare_exchange_strong(nPending, CallAbandoned)) {
            m_pCall->m_finished.Set();
        }
    }
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
    if (!pCall->m_finished.Create() || !pShared->m_closed.IsCreated()) {
        return false;  // no descriptors left: nothing can be waited for
    }
    auto pTicket = std::make_shared<Ticket>(pCall);
    m_pOwner->Post([pShared, pTicket, body = std::move(fn)]() {
        Call& call = *pTicket->m_pCall;
        if (pShared->m_bClosed.load()) {
            return;  // the ticket marks it abandoned
        }
        int nPending = CallPending;
        if (!call.m_nState.compare_exchange_strong(nPending, CallRunning)) {
            return;  // the waiter gave up first
        }
        body();
        call.m_nState.store(CallDone);
        call.m_finished.Set();
    });
    pTicket.reset();

    std::array<pollfd, 3> entries{{{pCall->m_finished.Fd(), POLLIN, 0},
                                   {pShared->m_closed.Fd(), POLLIN, 0},
                                   {cancel.m_nFd, POLLIN, 0}}};
    for (;;) {
        const int nReady = ::poll(entries.data(), entries.size(), -1);
        if (nReady < 0 && errno == EINTR) {
            continue;
        }
        if (nReady > 0 && entries[0].revents != 0) {
            break;
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
    return pCall->m_nState.load() == CallDone;
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
