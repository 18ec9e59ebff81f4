#include "serial/WorkerThread.h"

namespace varnis {

WorkerThread::~WorkerThread()
{
    Join();
}

bool WorkerThread::Start(std::function<void()> body)
{
    Join();
    m_body = std::move(body);
    if (!StartSystemThread(this, m_hThread)) {
        m_body = nullptr;
        return false;
    }
    m_bJoinable = true;
    return true;
}

void WorkerThread::Join()
{
    if (m_bJoinable) {
        JoinSystemThread(m_hThread);
        m_hThread = kNoNativeHandle;
        m_bJoinable = false;
        m_body = nullptr;
    }
}

}  // namespace varnis
