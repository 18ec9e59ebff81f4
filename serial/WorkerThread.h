// One thread of the system running a callable; joined by Join or the
// destructor. Start reports failure as false instead of throwing.
#pragma once

#include "serial/NativeHandle.h"

#include <functional>

namespace varnis {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool Start(std::function<void()> body);
    void Join();
    bool IsJoinable() const { return m_bJoinable; }

private:
    // The system's part (posix/, win32/): start a thread that runs
    // RunBody(pThread) and give its handle; wait for that thread to end and
    // let go of its handle.
    static bool StartSystemThread(WorkerThread* pThread, NativeHandle& hThread);
    static void JoinSystemThread(NativeHandle hThread);
    static void RunBody(WorkerThread* pThread) { pThread->m_body(); }

    std::function<void()> m_body;
    NativeHandle m_hThread = kNoNativeHandle;
    bool m_bJoinable = false;
};

}  // namespace varnis
