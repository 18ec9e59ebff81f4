// The floor of an idle serial line on Windows: opens one port, asks for the
// events the engine asks for and waits in WaitCommEvent for a given time,
// doing nothing else. A wait that ends early (a line event, or a wait the
// system ended) is started again, as the engine does, so the CPU this costs
// is the system's (under Wine, Wine's) price of waiting, not the engine's.
//   comm_wait_bare PORT SECONDS      e.g. comm_wait_bare COM3 5
// Prints how many waits ended early. Exit status 0 when it waited its time,
// 1 when the port could not be set up or a wait could not be started.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// One wait, at most until `ullEnd`. False when it could not be started.
bool WaitOnce(HANDLE hComm, OVERLAPPED& ov, ULONGLONG ullEnd, bool& bEndedEarly)
{
    DWORD dwEvents = 0;
    ResetEvent(ov.hEvent);
    if (!WaitCommEvent(hComm, &dwEvents, &ov) && GetLastError() != ERROR_IO_PENDING) {
        std::fprintf(stderr, "comm_wait_bare: WaitCommEvent failed (error %lu)\n", GetLastError());
        return false;
    }
    const ULONGLONG ullNow = GetTickCount64();
    const DWORD dwLeft = ullNow < ullEnd ? static_cast<DWORD>(ullEnd - ullNow) : 0;
    bEndedEarly = WaitForSingleObject(ov.hEvent, dwLeft) != WAIT_TIMEOUT;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: comm_wait_bare PORT SECONDS\n");
        return 2;
    }
    std::string name = argv[1];
    if (name.rfind("\\\\.\\", 0) != 0) {
        name = "\\\\.\\" + name;
    }
    const ULONGLONG ullEnd = GetTickCount64() + std::strtoull(argv[2], nullptr, 10) * 1000;
    HANDLE hComm = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
    if (hComm == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "comm_wait_bare: cannot open %s (error %lu)\n", name.c_str(), GetLastError());
        return 1;
    }
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int nStatus = 0;
    unsigned long ulEarly = 0;
    if (ov.hEvent == nullptr || !SetCommMask(hComm, EV_RXCHAR | EV_RXFLAG)) {
        std::fprintf(stderr, "comm_wait_bare: cannot set up the wait (error %lu)\n", GetLastError());
        nStatus = 1;
    } else {
        bool bEndedEarly = true;
        while (GetTickCount64() < ullEnd && bEndedEarly) {
            if (!WaitOnce(hComm, ov, ullEnd, bEndedEarly)) {
                nStatus = 1;
                break;
            }
            ulEarly += bEndedEarly ? 1 : 0;
        }
    }
    std::printf("%lu waits ended early\n", ulEarly);
    CloseHandle(hComm);  // also ends a wait still pending
    if (ov.hEvent != nullptr) {
        CloseHandle(ov.hEvent);
    }
    return nStatus;
}
