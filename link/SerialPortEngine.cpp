#include "link/DeviceLink.h"

#include "serial/SerialPort.h"

namespace varnis {

bool SerialPortEngine::Initialise(unsigned portnr, int baud, char parity, int databits, int stopbits,
                                  std::uint32_t eventMask, int sendBufferSize)
{
    return m_port.Initialise(&m_owner, portnr, baud, parity, databits, stopbits, eventMask, sendBufferSize);
}

bool SerialPortEngine::StartMonitor()
{
    return m_port.StartMonitor();
}

void SerialPortEngine::Send(std::span<const std::uint8_t> data)
{
    m_port.Send(data);
}

bool SerialPortEngine::Close()
{
    return m_port.Close();
}

bool SerialPortEngine::RequestCatchUp(std::uint32_t nTag)
{
    return m_port.RequestCatchUp(nTag);
}

}  // namespace varnis
