#include "platform/LineReader.h"

#include "platform/InputBytes.h"

#include <mutex>
#include <thread>

namespace varnis::console {

struct LineReader::Impl {
    explicit Impl(int nFd) : m_input(nFd) {}

    // Shared between the reading thread and the caller.
    std::mutex m_mutex;
    bool m_bDone = false;
    bool m_bGotLine = false;
    bool m_bTooLong = false;
    std::string m_strLine;

    InputBytes m_input;
    std::thread m_thread;

    void Cancel()
    {
        if (m_thread.joinable()) {
            m_input.Cancel();
            m_thread.join();
            m_input.Rearm();
        }
    }

    // Thread body: read until a line end, the end of input or a stop request.
    void Read(const std::function<void()>& onDone)
    {
        std::string line;
        bool bGotLine = false;
        bool bTooLong = false;
        for (;;) {
            char c = 0;
            const InputBytes::Got got = m_input.Next(c);
            if (got == InputBytes::Got::Cancelled) {
                return;  // stopped: nobody waits for the line any more
            }
            if (got == InputBytes::Got::End) {
                bGotLine = !line.empty();  // a last unterminated line still counts
                break;
            }
            if (c == '\n') {
                bGotLine = true;
                break;
            }
            if (line.size() == kLineLimit) {
                bTooLong = true;  // no answer is this long: nothing more is read
                line.clear();
                break;
            }
            line.push_back(c);
        }
        {
            const std::lock_guard lock(m_mutex);
            m_bDone = true;
            m_bGotLine = bGotLine;
            m_bTooLong = bTooLong;
            m_strLine = std::move(line);
        }
        if (onDone) {
            onDone();
        }
    }
};

LineReader::LineReader(int nFd) : m_pImpl(std::make_unique<Impl>(nFd)) {}

LineReader::~LineReader()
{
    m_pImpl->Cancel();
}

bool LineReader::Start(std::function<void()> onDone)
{
    Impl& impl = *m_pImpl;
    impl.Cancel();
    impl.m_bDone = false;
    impl.m_bGotLine = false;
    impl.m_bTooLong = false;
    impl.m_strLine.clear();
    if (!impl.m_input.IsUsable()) {
        return false;
    }
    impl.m_thread = std::thread([&impl, onDone = std::move(onDone)] { impl.Read(onDone); });
    return true;
}

bool LineReader::IsDone() const
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_bDone;
}

bool LineReader::Take(std::string& strLine)
{
    Impl& impl = *m_pImpl;
    if (!IsDone()) {
        impl.Cancel();  // abandoned: the reader thread stops reading
        return false;
    }
    impl.m_thread.join();
    strLine = impl.m_strLine;
    return impl.m_bGotLine;
}

bool LineReader::TooLong() const
{
    return m_pImpl->m_bTooLong;
}

}  // namespace varnis::console
