// Test scaffolding for the Windows build under Wine; shipped nowhere. The far
// end of the engine's test lines (tests/serial/win32/PtyPair.cpp): for each
// connection on a loopback port, a raw pseudo-terminal whose slave is put
// behind a COM port of the Wine prefix (a dosdevices/comN link), and whose
// master's traffic is passed over the connection. The relay keeps the slave
// open too, so the line stays up between the engine's opens, as the Linux
// tests' own pseudo-terminals do.
//   pty-relay DOSDEVICES-DIR FIRST-COM-NUMBER
// Prints the loopback port it listens on as its first line, then serves
// until it is ended (SIGTERM). Messages as in PtyPair.cpp.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Line {
    int m_hSocket = -1;
    int m_hMaster = -1;
    int m_hSlave = -1;
    int m_nCom = 0;
    std::string m_link;
    std::string m_pending;  // received from the socket, not yet a whole message
};

bool SendMessage(int hSocket, char cKind, const void* pData, std::size_t nLength)
{
    std::string message{cKind, static_cast<char>(nLength & 0xFF), static_cast<char>(nLength >> 8)};
    message.append(static_cast<const char*>(pData), nLength);
    const char* pNext = message.data();
    std::size_t nLeft = message.size();
    while (nLeft > 0) {
        const ssize_t nSent = ::send(hSocket, pNext, nLeft, MSG_NOSIGNAL);
        if (nSent < 0 && errno == EINTR) {
            continue;
        }
        if (nSent <= 0) {
            return false;
        }
        pNext += nSent;
        nLeft -= static_cast<std::size_t>(nSent);
    }
    return true;
}

bool SendNumber(int hSocket, char cKind, std::int32_t nValue)
{
    return SendMessage(hSocket, cKind, &nValue, sizeof nValue);
}

void CloseFd(int& hFd)
{
    if (hFd >= 0) {
        ::close(hFd);
        hFd = -1;
    }
}

void Drop(Line& line)
{
    CloseFd(line.m_hSocket);
    CloseFd(line.m_hMaster);
    CloseFd(line.m_hSlave);
    if (!line.m_link.empty()) {
        ::unlink(line.m_link.c_str());
    }
}

// A new line for a new connection, behind the lowest COM number not in use.
bool OpenLine(Line& line, const std::string& dosdevices, int nFirstCom, const std::vector<Line>& lines)
{
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&line.m_hMaster, &line.m_hSlave, nullptr, &raw, nullptr) != 0) {
        return false;
    }
    ::fcntl(line.m_hMaster, F_SETFL, ::fcntl(line.m_hMaster, F_GETFL) | O_NONBLOCK);
    for (int nCom = nFirstCom;; ++nCom) {
        bool bTaken = false;
        for (const Line& other : lines) {
            bTaken = bTaken || other.m_nCom == nCom;
        }
        if (!bTaken) {
            line.m_nCom = nCom;
            break;
        }
    }
    line.m_link = dosdevices + "/com" + std::to_string(line.m_nCom);
    ::unlink(line.m_link.c_str());
    return ::symlink(::ttyname(line.m_hSlave), line.m_link.c_str()) == 0 &&
           SendNumber(line.m_hSocket, 'P', line.m_nCom);
}

// Serves the whole messages received so far. False when the line must go.
bool Serve(Line& line)
{
    while (line.m_pending.size() >= 3) {
        const std::size_t nLength = static_cast<unsigned char>(line.m_pending[1]) |
                                    (static_cast<std::size_t>(static_cast<unsigned char>(line.m_pending[2])) << 8);
        if (line.m_pending.size() < 3 + nLength) {
            return true;
        }
        const char cKind = line.m_pending[0];
        const std::string payload = line.m_pending.substr(3, nLength);
        line.m_pending.erase(0, 3 + nLength);
        if (cKind == 'W' && line.m_hMaster >= 0) {
            if (::write(line.m_hMaster, payload.data(), payload.size()) != static_cast<ssize_t>(payload.size())) {
                std::fprintf(stderr, "pty-relay: COM%d: a write to the line was cut short\n", line.m_nCom);
            }
        } else if (cKind == 'Q') {
            int nQueued = -1;
            ::ioctl(line.m_hSlave, FIONREAD, &nQueued);
            if (!SendNumber(line.m_hSocket, 'A', nQueued)) {
                return false;
            }
        } else if (cKind == 'C') {
            CloseFd(line.m_hMaster);
        }
    }
    return true;
}

int Listen(std::uint16_t& nPort)
{
    const int hListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nSize = sizeof address;
    if (hListen < 0 || ::bind(hListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(hListen, 16) != 0 || ::getsockname(hListen, reinterpret_cast<sockaddr*>(&address), &nSize) != 0) {
        return -1;
    }
    nPort = ntohs(address.sin_port);
    return hListen;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pty-relay DOSDEVICES-DIR FIRST-COM-NUMBER\n");
        return 2;
    }
    const std::string dosdevices = argv[1];
    const int nFirstCom = std::atoi(argv[2]);
    std::uint16_t nPort = 0;
    const int hListen = Listen(nPort);
    if (hListen < 0) {
        std::perror("pty-relay: listen");
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(nPort));
    std::fflush(stdout);

    std::vector<Line> lines;
    for (;;) {
        std::vector<pollfd> waits{{hListen, POLLIN, 0}};
        for (const Line& line : lines) {
            waits.push_back({line.m_hSocket, POLLIN, 0});
            waits.push_back({line.m_hMaster, POLLIN, 0});  // a closed master (-1) is left out
        }
        if (::poll(waits.data(), waits.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("pty-relay: poll");
            return 1;
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Line& line = lines[i];
            bool bKeep = true;
            if (waits[1 + 2 * i].revents != 0) {
                std::array<char, 4096> buffer{};
                const ssize_t nGot = ::recv(line.m_hSocket, buffer.data(), buffer.size(), 0);
                bKeep = nGot > 0;
                if (bKeep) {
                    line.m_pending.append(buffer.data(), static_cast<std::size_t>(nGot));
                    bKeep = Serve(line);
                }
            }
            if (bKeep && line.m_hMaster >= 0 && waits[2 + 2 * i].revents != 0) {
                std::array<char, 4096> buffer{};
                const ssize_t nGot = ::read(line.m_hMaster, buffer.data(), buffer.size());
                if (nGot > 0) {
                    bKeep = SendMessage(line.m_hSocket, 'D', buffer.data(), static_cast<std::size_t>(nGot));
                } else if (nGot < 0 && errno != EAGAIN && errno != EINTR) {
                    CloseFd(line.m_hMaster);  // the slave side has gone for good
                }
            }
            if (!bKeep) {
                Drop(line);
                line.m_hSocket = -2;  // removed below
            }
        }
        std::erase_if(lines, [](const Line& line) { return line.m_hSocket == -2; });
        if ((waits[0].revents & POLLIN) != 0) {
            Line line;
            line.m_hSocket = ::accept4(hListen, nullptr, nullptr, SOCK_CLOEXEC);
            const int nOne = 1;
            ::setsockopt(line.m_hSocket, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
            if (line.m_hSocket >= 0 && OpenLine(line, dosdevices, nFirstCom, lines)) {
                lines.push_back(std::move(line));
            } else {
                Drop(line);
            }
        }
    }
}
