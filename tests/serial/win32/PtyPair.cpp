// The far end of a test line for the Windows build under Wine: a relay on the
// Linux side (tests/windows/PtyRelay.cpp, its loopback port in the variable
// VARNIS_TEST_RELAY_PORT) opens a pseudo-terminal per connection, puts its
// slave behind a COM port of the prefix and passes the master's traffic.
// Messages both ways: a kind byte, a 16-bit length (little end first), the
// payload. To the relay: 'W' bytes to write, 'Q' the slave's queue, 'C' hang
// up. From the relay: 'P' the COM number (4 bytes), 'D' bytes the engine
// wrote, 'A' the queue's length (4 bytes).
#include "serial/PtyPair.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace varnis::test {

namespace {

struct Message {
    char m_cKind = 0;
    std::string m_payload;
};

bool SendAll(SOCKET hSocket, const char* pData, int nLength)
{
    while (nLength > 0) {
        const int nSent = ::send(hSocket, pData, nLength, 0);
        if (nSent <= 0) {
            return false;
        }
        pData += nSent;
        nLength -= nSent;
    }
    return true;
}

bool ReceiveAll(SOCKET hSocket, char* pData, int nLength)
{
    while (nLength > 0) {
        const int nGot = ::recv(hSocket, pData, nLength, 0);
        if (nGot <= 0) {
            return false;
        }
        pData += nGot;
        nLength -= nGot;
    }
    return true;
}

// Waits at most `nTimeoutMs` for the socket to have something to read.
bool Readable(SOCKET hSocket, int nTimeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(hSocket, &readable);
    timeval limit{nTimeoutMs / 1000, (nTimeoutMs % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &limit) > 0;
}

}  // namespace

struct PtyPair::Impl {
    SOCKET m_hSocket = INVALID_SOCKET;
    std::string m_path;
    std::string m_received;  // what the engine wrote, not yet read by the test

    bool Send(char cKind, const std::string& payload = {}) const
    {
        const auto nLength = static_cast<std::uint16_t>(payload.size());
        const std::array<char, 3> head{cKind, static_cast<char>(nLength & 0xFF), static_cast<char>(nLength >> 8)};
        return SendAll(m_hSocket, head.data(), 3) && SendAll(m_hSocket, payload.data(), nLength);
    }
    bool Receive(Message& message) const
    {
        std::array<char, 3> head{};
        if (!ReceiveAll(m_hSocket, head.data(), 3)) {
            return false;
        }
        message.m_cKind = head[0];
        const int nLength = static_cast<unsigned char>(head[1]) | (static_cast<unsigned char>(head[2]) << 8);
        message.m_payload.assign(static_cast<std::size_t>(nLength), '\0');
        return ReceiveAll(m_hSocket, message.m_payload.data(), nLength);
    }
    // Takes in what has come, waiting at most `nTimeoutMs` for the first
    // message; returns the first message that is not engine output.
    bool Pump(int nTimeoutMs, Message* pAnswer)
    {
        while (m_hSocket != INVALID_SOCKET && Readable(m_hSocket, nTimeoutMs)) {
            Message message;
            if (!Receive(message)) {
                return false;
            }
            if (message.m_cKind == 'D') {
                m_received += message.m_payload;
                nTimeoutMs = 0;
                continue;
            }
            if (pAnswer != nullptr) {
                *pAnswer = std::move(message);
                return true;
            }
        }
        return false;
    }
    int Answer(char cKind)
    {
        Message answer;
        while (Pump(5000, &answer)) {
            if (answer.m_cKind == cKind && answer.m_payload.size() == 4) {
                std::int32_t nValue = 0;
                std::memcpy(&nValue, answer.m_payload.data(), 4);
                return nValue;
            }
        }
        return -1;
    }
};

PtyPair::PtyPair() : m_pImpl(std::make_unique<Impl>())
{
    static const bool bStarted = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const char* pszPort = std::getenv("VARNIS_TEST_RELAY_PORT");
    if (!bStarted || pszPort == nullptr) {
        return;
    }
    m_pImpl->m_hSocket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in relay{};
    relay.sin_family = AF_INET;
    relay.sin_port = ::htons(static_cast<u_short>(std::atoi(pszPort)));
    relay.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (m_pImpl->m_hSocket == INVALID_SOCKET ||
        ::connect(m_pImpl->m_hSocket, reinterpret_cast<const sockaddr*>(&relay), sizeof relay) != 0) {
        return;
    }
    const int nOne = 1;
    ::setsockopt(m_pImpl->m_hSocket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nOne), sizeof nOne);
    const int nPort = m_pImpl->Answer('P');
    if (nPort > 0) {
        m_pImpl->m_path = "\\\\.\\COM" + std::to_string(nPort);
    }
}

PtyPair::~PtyPair()
{
    if (m_pImpl->m_hSocket != INVALID_SOCKET) {
        ::closesocket(m_pImpl->m_hSocket);
    }
}

bool PtyPair::IsOpen() const
{
    return !m_pImpl->m_path.empty();
}

const std::string& PtyPair::SlavePath() const
{
    return m_pImpl->m_path;
}

void PtyPair::CloseMaster()
{
    m_pImpl->Send('C');
}

bool PtyPair::Write(const std::vector<std::uint8_t>& bytes) const
{
    return m_pImpl->Send('W', std::string(bytes.begin(), bytes.end()));
}

bool PtyPair::Write(const std::string& text) const
{
    return m_pImpl->Send('W', text);
}

std::string PtyPair::Read(std::size_t nCount, std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_pImpl->m_received.size() < nCount) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        Message ignored;
        m_pImpl->Pump(static_cast<int>(left.count()), &ignored);
    }
    const std::size_t nTaken = std::min(nCount, m_pImpl->m_received.size());
    std::string got = m_pImpl->m_received.substr(0, nTaken);
    m_pImpl->m_received.erase(0, nTaken);
    return got;
}

bool PtyPair::MasterReadable() const
{
    m_pImpl->Pump(0, nullptr);
    return !m_pImpl->m_received.empty();
}

int PtyPair::SlaveQueued() const
{
    return m_pImpl->Send('Q') ? m_pImpl->Answer('A') : -1;
}

}  // namespace varnis::test
