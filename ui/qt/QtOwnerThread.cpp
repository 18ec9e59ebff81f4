#include "ui/qt/QtOwnerThread.h"

#include <QMetaObject>

namespace varnis {

QtOwnerThread::QtOwnerThread() = default;

void QtOwnerThread::Post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(
        &m_context, [call = std::move(fn)]() { call(); }, Qt::QueuedConnection);
}

QtErrorReporter::QtErrorReporter(QtOwnerThread& owner, std::function<IMessageBoxes&()> boxes)
    : m_owner(owner), m_boxes(std::move(boxes)), m_channel(owner)
{
}

void QtErrorReporter::ReportError(std::string_view text, std::string_view caption, const CancelSignal& cancel)
{
    // Copies: the caller's texts may be gone once a cancelled wait returns.
    const QString strText = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QString strCaption = QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    if (m_owner.IsOwnerThread()) {
        m_boxes().Error(strText, strCaption);
        return;
    }
    m_channel.RunAndWait([this, strText, strCaption]() { m_boxes().Error(strText, strCaption); }, cancel);
}

void QtErrorReporter::Close()
{
    m_channel.Close();
}

}  // namespace varnis
