#include "ui/qt/QtOwnerThread.h"

#include <QMetaObject>

namespace varnis {

QtOwnerThread::QtOwnerThread() = default;

void QtOwnerThread::Post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(
        &m_context, [call = std::move(fn)]() { call(); }, Qt::QueuedConnection);
}

}  // namespace varnis
