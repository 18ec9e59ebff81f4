// Why a port cannot be used, as far as Windows tells: the port is opened the
// way the engine opens it (read-write, not shared, overlapped) and closed at
// once. Windows does not name the program that holds a port.
#include "serial/PortDiagnosis.h"
#include "serial/Text.h"

#include <windows.h>

namespace varnis {

// Windows has no lock files of terminal programs: a port held by another
// program simply fails to open.
void SetPortLockDirectory(std::string) {}

std::vector<std::string> PortHolders(const std::string&, const std::string&)
{
    return {};
}

PortDiagnosis DiagnoseOpenFailure(const std::string& path, const OpenFailure& failure, const std::string&)
{
    if (path.empty()) {
        return {PortProblem::NoSuchDevice, "no such device"};
    }
    switch (failure.m_nError) {
    case 0: return {PortProblem::Other, "could not be opened at the time"};
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST: return {PortProblem::NoSuchDevice, "no such device"};
    case ERROR_ACCESS_DENIED:  // what a port held by another program gives
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return {PortProblem::InUse, "in use by another program"};
    default: return {PortProblem::Other, WithoutLineEnd(SystemErrorText(failure.m_nError))};
    }
}

PortDiagnosis DiagnosePort(const std::string& path, const std::string& strProcRoot)
{
    if (path.empty()) {
        return {PortProblem::NoSuchDevice, "no such device"};
    }
    HANDLE hComm = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
    if (hComm == INVALID_HANDLE_VALUE) {
        return DiagnoseOpenFailure(path, {static_cast<int>(GetLastError()), 0}, strProcRoot);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool bSerial = GetCommState(hComm, &dcb) != 0;
    CloseHandle(hComm);
    if (!bSerial) {
        return {PortProblem::NotSerialLine, "not a serial line"};
    }
    return {PortProblem::None, "can be opened"};
}

}  // namespace varnis
