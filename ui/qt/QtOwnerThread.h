// Hands work to the thread that created this object, through Qt's event loop.
#pragma once

#include "serial/OwnerThread.h"

#include <QObject>
#include <QThread>

#include <functional>

namespace varnis {

class QtOwnerThread : public IOwnerThread {
public:
    QtOwnerThread();
    void Post(std::function<void()> fn) override;  // any thread
    bool IsOwnerThread() const { return QThread::currentThread() == m_context.thread(); }

private:
    QObject m_context;  // queued calls die with it
};

}  // namespace varnis
