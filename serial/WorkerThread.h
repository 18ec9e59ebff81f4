// One thread of the system running a callable; joined by Join or the
// destructor. Start reports failure as false instead of throwing.
#pragma once

#include <functional>
#include <memory>

namespace varnis {

class WorkerThread {
public:
    WorkerThread();
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool Start(std::function<void()> body);
    void Join();
    bool IsJoinable() const { return m_bJoinable; }

private:
    struct Native;  // the system's thread handle
    void RunBody() { m_body(); }

    std::function<void()> m_body;
    std::unique_ptr<Native> m_pNative;
    bool m_bJoinable = false;
};

}  // namespace varnis
