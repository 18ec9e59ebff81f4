// The serial port engine: opens and configures one port, runs a monitoring
// thread that notifies every received byte to its owner, and writes the data
// handed to it.
#pragma once

#include "serial/PortTable.h"
#include "serial/SerialNotify.h"

#include <cstdint>
#include <span>
#include <memory>
#include <string>

namespace varnis {

// The line settings as last applied (what a DCB held).
struct LineSettings {
    int m_nBaud = 0;
    char m_cParity = 'N';
    int m_nDataBits = 8;
    int m_nStopBits = 1;
    bool m_bRts = false;
};

class SerialPort {
public:
    SerialPort();
    virtual ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Set before Initialise. Without a table the machine's own ports are used;
    // without a reporter errors go to standard error.
    void SetPortTable(const PortTable& table);
    void SetErrorReporter(IErrorReporter* pReporter);

    bool Initialise(ISerialOwner* pPortOwner, unsigned portnr = 1, int baud = 19200, char parity = 'N',
                    int databits = 8, int stopbits = 1, std::uint32_t eventMask = EV_RXCHAR | EV_CTS,
                    int sendBufferSize = 512);
    bool StartMonitor();
    bool SuspendMonitor();
    bool ResumeMonitor();

    void Send(const char* text);
    void Send(std::span<const std::uint8_t> data);
    bool Close();

    LineSettings GetLineSettings() const;
    std::uint32_t GetEventMask() const;
    int GetSendBufferSize() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

}  // namespace varnis
