#include "platform/InputBytes.h"

#include <windows.h>

#include <io.h>

#include <mutex>

namespace varnis::console {

// A read of standard input (console, pipe or file) is a blocking ReadFile on
// the reading thread; Cancel ends it with CancelSynchronousIo. A Cancel that
// comes between the flag's look and the start of the read finds no read to
// end: the line reader never cancels a reader it has not seen finish, so this
// stays a rule of the interface, not a wait that can hang.
struct InputBytes::Impl {
    HANDLE m_hInput = INVALID_HANDLE_VALUE;  // not owned
    std::mutex m_mutex;
    bool m_bCancelled = false;
    HANDLE m_hReader = nullptr;  // the thread inside Next, while it reads
};

InputBytes::InputBytes(int nFd) : m_pImpl(std::make_unique<Impl>())
{
    m_pImpl->m_hInput = reinterpret_cast<HANDLE>(_get_osfhandle(nFd));
}

InputBytes::~InputBytes() = default;

bool InputBytes::IsUsable() const
{
    return m_pImpl->m_hInput != INVALID_HANDLE_VALUE;
}

void InputBytes::Cancel()
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_bCancelled = true;
    if (m_pImpl->m_hReader != nullptr) {
        CancelSynchronousIo(m_pImpl->m_hReader);
    }
}

void InputBytes::Rearm()
{
    const std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_bCancelled = false;
}

InputBytes::Got InputBytes::Next(char& c)
{
    HANDLE hSelf = nullptr;
    {
        const std::lock_guard lock(m_pImpl->m_mutex);
        if (m_pImpl->m_bCancelled) {
            return Got::Cancelled;
        }
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &hSelf, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            return Got::End;
        }
        m_pImpl->m_hReader = hSelf;
    }
    DWORD dwRead = 0;
    const BOOL bRead = ReadFile(m_pImpl->m_hInput, &c, 1, &dwRead, nullptr);
    const DWORD dwError = bRead ? ERROR_SUCCESS : GetLastError();
    bool bCancelled = false;
    {
        const std::lock_guard lock(m_pImpl->m_mutex);
        m_pImpl->m_hReader = nullptr;
        bCancelled = m_pImpl->m_bCancelled;
    }
    CloseHandle(hSelf);
    if (bCancelled || dwError == ERROR_OPERATION_ABORTED) {
        return Got::Cancelled;
    }
    // A console gives the line end as CR LF: the CR is not part of the line.
    if (bRead && dwRead == 1 && c == '\r') {
        return Next(c);
    }
    return bRead && dwRead == 1 ? Got::Byte : Got::End;
}

}  // namespace varnis::console
