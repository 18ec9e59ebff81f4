// What real drivers do and Wine does not, played at the Windows backend's
// table of comm calls: waits that end at once or with the device gone, input
// that came before the wait, a write no purge ends, a control block left
// with every wrong bit set. The order of calls is what a driver relies on.
#include "serial/PortBackend.h"
#include "serial/SerialPort.h"
#include "serial/SerialTestSupport.h"
#include "serial/Text.h"
#include "serial/win32/Win32CommCalls.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace varnis::test {
namespace {

using win32::Comm;
constexpr long kNoSuchDevice = 433;  // kNoSuchDevice, not in MinGW's headers

HANDLE const kFakeComm = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x5eed));

// The played driver. Only the monitoring thread's calls touch it, and the
// tests make those calls on their own thread.
struct PlayedDriver {
    std::vector<std::string> m_calls;
    int m_nFailAtOnce = 0;  // WaitCommEvent calls still to fail at once, with m_nArmError
    int m_nArmError = 0;
    bool m_bEndAtOnce = false;  // the wait is signalled as soon as it is armed
    int m_nEndError = 0;        // how an ended wait went (0: with m_dwEvents)
    DWORD m_dwEvents = 0;
    int m_nWaits = 0;
    DWORD m_dwInQueue = 0;
    DCB m_found{};          // what GetCommState finds
    DCB m_set{};            // what SetCommState was given
    int m_nWriteError = 0;  // a write fails at once with it
    bool m_bWritePends = false;
    BOOL m_bPurgeWorks = TRUE;
    OVERLAPPED* m_pWrite = nullptr;
    OVERLAPPED* m_pLine = nullptr;
    OVERLAPPED* m_pRead = nullptr;  // a read pends until it is cancelled
};
PlayedDriver g_driver;
// Set when a read has been started; a stand-in for "never" for a read waited
// for without bound, so that such a wait fails the test rather than hangs it.
HANDLE g_hReadStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
constexpr DWORD kNeverMs = 20000;

HANDLE WINAPI FakeCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    return kFakeComm;
}
BOOL WINAPI FakeClose(HANDLE)
{
    g_driver.m_calls.emplace_back("CloseHandle");
    return TRUE;
}
BOOL WINAPI FakeTimeouts(HANDLE, LPCOMMTIMEOUTS)
{
    return TRUE;
}
BOOL WINAPI FakeMask(HANDLE, DWORD dwMask)
{
    g_driver.m_calls.push_back("SetCommMask " + std::to_string(dwMask));
    if (g_driver.m_pLine != nullptr) {
        SetEvent(g_driver.m_pLine->hEvent);  // a new mask ends the pending wait
    }
    return TRUE;
}
BOOL WINAPI FakeGetState(HANDLE, LPDCB pDcb)
{
    *pDcb = g_driver.m_found;
    return TRUE;
}
BOOL WINAPI FakeSetState(HANDLE, LPDCB pDcb)
{
    g_driver.m_set = *pDcb;
    return TRUE;
}
BOOL WINAPI FakeWaitCommEvent(HANDLE, LPDWORD pdwEvents, LPOVERLAPPED pOv)
{
    g_driver.m_calls.emplace_back("WaitCommEvent");
    ++g_driver.m_nWaits;
    ResetEvent(pOv->hEvent);
    g_driver.m_pLine = pOv;
    if (g_driver.m_nFailAtOnce > 0) {
        --g_driver.m_nFailAtOnce;
        SetLastError(static_cast<DWORD>(g_driver.m_nArmError));
        return FALSE;
    }
    *pdwEvents = g_driver.m_dwEvents;
    if (g_driver.m_bEndAtOnce) {
        SetEvent(pOv->hEvent);
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}
BOOL WINAPI FakeResult(HANDLE, LPOVERLAPPED pOv, LPDWORD pdwDone, BOOL bWait)
{
    *pdwDone = 0;
    if (pOv == g_driver.m_pRead) {
        if (bWait) {
            WaitForSingleObject(pOv->hEvent, kNeverMs);
        }
        SetLastError(ERROR_OPERATION_ABORTED);  // only a cancel ends it
        return FALSE;
    }
    if (pOv == g_driver.m_pWrite && g_driver.m_nWriteError != 0) {
        SetLastError(static_cast<DWORD>(g_driver.m_nWriteError));
        return FALSE;
    }
    if (pOv == g_driver.m_pWrite) {
        return TRUE;
    }
    SetLastError(static_cast<DWORD>(g_driver.m_nEndError));
    return g_driver.m_nEndError == 0;
}
BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD pdwErrors, LPCOMSTAT pStat)
{
    g_driver.m_calls.emplace_back("ClearCommError");
    *pdwErrors = 0;
    *pStat = COMSTAT{};
    pStat->cbInQue = g_driver.m_dwInQueue;
    return TRUE;
}
BOOL WINAPI FakeRead(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED pOv)
{
    g_driver.m_calls.emplace_back("ReadFile");
    g_driver.m_pRead = pOv;
    ResetEvent(pOv->hEvent);
    SetEvent(g_hReadStarted);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}
BOOL WINAPI FakeWrite(HANDLE, LPCVOID, DWORD dwLength, LPDWORD pdwWritten, LPOVERLAPPED pOv)
{
    g_driver.m_pWrite = pOv;
    ResetEvent(pOv->hEvent);
    if (g_driver.m_bWritePends || g_driver.m_nWriteError != 0) {
        SetLastError(g_driver.m_bWritePends ? ERROR_IO_PENDING : static_cast<DWORD>(g_driver.m_nWriteError));
        return FALSE;
    }
    *pdwWritten = dwLength;
    return TRUE;
}
BOOL WINAPI FakePurge(HANDLE, DWORD dwFlags)
{
    g_driver.m_calls.push_back("PurgeComm " + std::to_string(dwFlags));
    return g_driver.m_bPurgeWorks;
}
BOOL WINAPI FakeCancel(HANDLE, LPOVERLAPPED pOv)
{
    g_driver.m_calls.emplace_back(pOv == g_driver.m_pWrite  ? "CancelIoEx write"
                                  : pOv == g_driver.m_pRead ? "CancelIoEx read"
                                                            : "CancelIoEx");
    SetEvent(pOv->hEvent);
    return TRUE;
}

// The played driver in place of the system's calls, in its first state.
void PlayDriver()
{
    g_driver = PlayedDriver{};
    g_driver.m_found.DCBlength = sizeof(DCB);
    ResetEvent(g_hReadStarted);
    win32::CommCalls& calls = Comm();
    calls.m_pCreateFile = FakeCreateFile;
    calls.m_pCloseHandle = FakeClose;
    calls.m_pSetCommTimeouts = FakeTimeouts;
    calls.m_pSetCommMask = FakeMask;
    calls.m_pGetCommState = FakeGetState;
    calls.m_pSetCommState = FakeSetState;
    calls.m_pWaitCommEvent = FakeWaitCommEvent;
    calls.m_pGetOverlappedResult = FakeResult;
    calls.m_pClearCommError = FakeClearCommError;
    calls.m_pReadFile = FakeRead;
    calls.m_pWriteFile = FakeWrite;
    calls.m_pPurgeComm = FakePurge;
    calls.m_pCancelIoEx = FakeCancel;
}

class Win32BackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlayDriver();
        ASSERT_TRUE(m_stop.Create());
        std::string reason;
        OpenFailure failure;
        ASSERT_TRUE(m_pBackend->Open("\\\\.\\COM9", reason, failure));
        LineSettings found;
        ASSERT_FALSE(
            m_pBackend->Configure(CommTimeouts{}, EV_RXCHAR | EV_RXFLAG, "baud=9600 parity=N data=8 stop=1", found));
    }
    void TearDown() override
    {
        m_pBackend.reset();
        Comm() = win32::CommCalls{};
    }
    WaitResult WaitLine(int nTimeoutMs, LineWatch eWatch = LineWatch::Input)
    {
        WaitRequest request;
        request.m_pStop = &m_stop;
        request.m_eLine = eWatch;
        request.m_nTimeoutMs = nTimeoutMs;
        return m_pBackend->Wait(request);
    }

    EventFlag m_stop;
    std::unique_ptr<PortBackend> m_pBackend = CreatePortBackend();
};

// Nothing of what the driver or the last program left survives.
TEST_F(Win32BackendTest, LineControlLeavesNothingInherited)
{
    DCB wrong{};
    wrong.DCBlength = sizeof wrong;
    wrong.fOutxCtsFlow = wrong.fOutxDsrFlow = wrong.fDsrSensitivity = wrong.fOutX = wrong.fInX = 1;
    wrong.fErrorChar = wrong.fNull = wrong.fAbortOnError = 1;
    wrong.fDtrControl = DTR_CONTROL_HANDSHAKE;
    wrong.fRtsControl = RTS_CONTROL_TOGGLE;
    g_driver.m_found = wrong;
    LineSettings found;
    ASSERT_FALSE(m_pBackend->Configure(CommTimeouts{}, EV_RXCHAR, "baud=9600 parity=N data=8 stop=1", found));
    const DCB& set = g_driver.m_set;
    EXPECT_EQ(set.BaudRate, 9600U);
    EXPECT_EQ(set.fBinary, 1U);
    EXPECT_EQ(set.fParity, 0U);
    EXPECT_EQ(set.fOutxCtsFlow + set.fOutxDsrFlow + set.fDsrSensitivity + set.fOutX + set.fInX, 0U);
    EXPECT_EQ(set.fErrorChar + set.fNull + set.fAbortOnError, 0U);
    EXPECT_EQ(set.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(set.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_NE(set.XonChar, set.XoffChar);
}

// A wait that keeps ending with nothing (aborted, or no event) is armed
// again at a pace; a byte that comes meanwhile is still seen.
TEST_F(Win32BackendTest, WaitsThatEndWithNothingArePaced)
{
    for (const int nEndError : {static_cast<int>(ERROR_OPERATION_ABORTED), 0}) {
        SCOPED_TRACE(nEndError);
        g_driver.m_bEndAtOnce = true;
        g_driver.m_nEndError = nEndError;
        g_driver.m_nWaits = 0;
        g_driver.m_dwInQueue = 0;
        constexpr int kSpanMs = 200;
        EXPECT_EQ(WaitLine(kSpanMs).m_eSlot, WaitSlot::TimedOut);
        EXPECT_LE(g_driver.m_nWaits, static_cast<int>(kSpanMs / win32::kLineRearmMs) + 3);
        EXPECT_FALSE(m_pBackend->QueryLine().m_bLost);
        g_driver.m_dwInQueue = 1;
        EXPECT_EQ(WaitLine(5000).m_eSlot, WaitSlot::Line);
    }
}

// A wait that ends, or fails at once, with a code of a device gone is a lost
// line even while ClearCommError still works; an abort at once is tried once
// more, another error at once is a lost line too.
TEST_F(Win32BackendTest, WaitsEndedByTheDeviceGoneAreALostLine)
{
    struct Case {
        bool m_bAtOnce;
        int m_nFailures;
        int m_nError;
        bool m_bLost;
    };
    const Case cases[] = {
        {false, 0, ERROR_DEVICE_REMOVED, true},   {false, 0, kNoSuchDevice, true},
        {false, 0, ERROR_ACCESS_DENIED, true},    {true, 1, ERROR_BAD_COMMAND, true},
        {true, 1, ERROR_ACCESS_DENIED, true},     {true, 1, ERROR_OPERATION_ABORTED, false},
        {true, 2, ERROR_OPERATION_ABORTED, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_nError);
        m_pBackend->Release();
        SetUp();
        g_driver.m_bEndAtOnce = !c.m_bAtOnce;
        g_driver.m_nEndError = c.m_bAtOnce ? 0 : c.m_nError;
        g_driver.m_nFailAtOnce = c.m_bAtOnce ? c.m_nFailures : 0;
        g_driver.m_nArmError = c.m_nError;
        const WaitResult woken = WaitLine(c.m_bLost ? 5000 : 50);
        EXPECT_EQ(woken.m_eSlot, c.m_bLost ? WaitSlot::Line : WaitSlot::TimedOut);
        const LineQuery query = m_pBackend->QueryLine();
        EXPECT_EQ(query.m_bLost, c.m_bLost);
        EXPECT_EQ(query.m_nError, c.m_bLost ? c.m_nError : 0);
    }
}

// Input that came before the wait was armed is looked for after arming; a
// wait on the line's end only leaves it queued.
TEST_F(Win32BackendTest, InputBeforeTheWaitWakesAtOnce)
{
    g_driver.m_dwInQueue = 1;
    EXPECT_EQ(WaitLine(50, LineWatch::HangUpOnly).m_eSlot, WaitSlot::TimedOut);
    m_pBackend->Release();
    SetUp();
    g_driver.m_dwInQueue = 1;
    g_driver.m_calls.clear();
    EXPECT_EQ(WaitLine(5000).m_eSlot, WaitSlot::Line);
    EXPECT_EQ(g_driver.m_calls, (std::vector<std::string>{"WaitCommEvent", "ClearCommError"}));
}

// Closing with a line wait pending: the mask cleared (which ends the wait),
// the transfers aborted, then the handle closed; output the driver has taken
// is not purged.
TEST_F(Win32BackendTest, CloseEndsTheLineWaitFirst)
{
    EXPECT_EQ(WaitLine(10).m_eSlot, WaitSlot::TimedOut);
    g_driver.m_calls.clear();
    m_pBackend->Release();
    const std::string abort = std::to_string(PURGE_TXABORT | PURGE_RXABORT | PURGE_RXCLEAR);
    EXPECT_EQ(g_driver.m_calls, (std::vector<std::string>{"SetCommMask 0", "PurgeComm " + abort, "CloseHandle"}));
}

// A write no purge ends is cancelled; a purge that fails cancels at once.
TEST_F(Win32BackendTest, AWriteThePurgeDoesNotEndIsCancelled)
{
    for (const BOOL bPurgeWorks : {TRUE, FALSE}) {
        g_driver.m_bWritePends = true;
        g_driver.m_bPurgeWorks = bPurgeWorks;
        const std::uint8_t stx = 0x02;
        EXPECT_EQ(m_pBackend->WriteSome({&stx, 1}).m_nTaken, 0);
        g_driver.m_calls.clear();
        m_pBackend->Purge();
        EXPECT_EQ(g_driver.m_calls, (std::vector<std::string>{"PurgeComm 15", "CancelIoEx write"}));
    }
}

// A write that fails, at once or later, with a code of a device gone tells a
// lost line; another failure is a failure only.
TEST_F(Win32BackendTest, WriteFailuresOfAGoneDeviceAreALostLine)
{
    const std::uint8_t stx = 0x02;
    for (const bool bLater : {false, true}) {
        for (const auto& [nError, bLost] : {std::pair{ERROR_DEVICE_REMOVED, true}, std::pair{kNoSuchDevice, true},
                                            std::pair{ERROR_INVALID_PARAMETER, false}}) {
            SCOPED_TRACE(nError);
            g_driver.m_bWritePends = bLater;
            g_driver.m_nWriteError = nError;
            WriteResult written = m_pBackend->WriteSome({&stx, 1});
            if (bLater) {
                SetEvent(g_driver.m_pWrite->hEvent);
                written = m_pBackend->WriteSome({&stx, 1});
            }
            EXPECT_TRUE(written.m_bFailed);
            EXPECT_EQ(written.m_bLost, bLost);
        }
    }
}

// A read the driver never ends (a byte is queued, yet the read pends): it
// runs under the port lock, and Close, which takes that lock, still returns
// within the read's bound, the read cancelled.
TEST(Win32EngineTest, CloseEndsAReadTheDriverNeverEnds)
{
    PlayDriver();
    g_driver.m_bEndAtOnce = true;
    g_driver.m_dwEvents = EV_RXCHAR;
    g_driver.m_dwInQueue = 1;
    EventLoop loop;
    SerialOwnerChannel owner{loop, [](const SerialNotification&) {}};
    RecordingReporter reporter;
    PortTable table;
    table.SetPath(9, "\\\\.\\COM9");
    {
        SerialPort port;
        port.SetPortTable(table);
        port.SetErrorReporter(&reporter);
        ASSERT_TRUE(port.Initialise(&owner, 9, 9600, 'N', 8, 1, EV_RXCHAR, 512));
        ASSERT_TRUE(port.StartMonitor());
        ASSERT_EQ(WaitForSingleObject(g_hReadStarted, 10000), WAIT_OBJECT_0);
        const auto start = std::chrono::steady_clock::now();
        port.Close();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_LT(elapsed, std::chrono::milliseconds(2 * win32::kAbortWaitMs + 3000));
    }
    Comm() = win32::CommCalls{};
    EXPECT_NE(std::find(g_driver.m_calls.begin(), g_driver.m_calls.end(), "CancelIoEx read"), g_driver.m_calls.end());
}

}  // namespace
}  // namespace varnis::test
