// Hands work to the thread that created this object, through Qt's event loop.
#pragma once

#include "serial/OwnerThread.h"
#include "ui/qt/MessageBoxes.h"

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

// The engine's error boxes. On the window's thread the box opens at once; from
// the monitoring thread the report is handed over and waited for, and a stop
// request ends that wait.
class QtErrorReporter : public IErrorReporter {
public:
    // `boxes` is asked for the current boxes each time a report arrives.
    QtErrorReporter(QtOwnerThread& owner, std::function<IMessageBoxes&()> boxes);
    void ReportError(std::string_view text, std::string_view caption, const CancelSignal& cancel) override;
    void Close();  // reports in flight return; later ones show nothing

private:
    QtOwnerThread& m_owner;
    std::function<IMessageBoxes&()> m_boxes;
    HandOverChannel m_channel;
};

}  // namespace varnis
