#include "platform/StandardOutput.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <unistd.h>

namespace varnis::console {

bool StandardOutput::WriteOut()
{
    const char* pNext = pbase();
    while (pNext < pptr()) {
        if (m_nError != 0) {
            break;  // lost already: the rest is dropped
        }
        const ssize_t nDone = ::write(m_nFd, pNext, static_cast<std::size_t>(pptr() - pNext));
        if (nDone < 0 && errno == EINTR) {
            continue;
        }
        if (nDone <= 0) {
            m_nError = nDone < 0 ? errno : EIO;
            break;
        }
        pNext += nDone;
    }
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    return m_nError == 0;
}

StandardOutput::int_type StandardOutput::overflow(int_type ch)
{
    if (!WriteOut()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

int StandardOutput::sync()
{
    return WriteOut() ? 0 : -1;
}

bool StandardOutput::Finish(std::string& strError)
{
    WriteOut();
    // Some failures are only told on closing (a full disk over NFS, ...).
    if (::close(m_nFd) != 0 && errno != EINTR && m_nError == 0) {
        m_nError = errno;
    }
    if (m_nError == 0) {
        return true;
    }
    strError = std::string("cannot write to standard output: ") + std::strerror(m_nError);
    return false;
}

bool PrintAndFinish(std::string_view text, std::string& strError)
{
    StandardOutput output;
    std::ostream(&output) << text;
    return output.Finish(strError);
}

}  // namespace varnis::console
