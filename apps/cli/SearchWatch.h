// The device search as the command line watches it: which port the device
// answered on, and why every other port was passed over.
#pragma once

#include "link/DeviceLink.h"
#include "serial/PortDiagnosis.h"
#include "serial/PortTable.h"
#include "serial/SerialPort.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace varnis::cli {

// A port the search passed over, and why.
struct PassedPort {
    unsigned m_nPort = 0;
    PortDiagnosis m_why;
};

inline constexpr std::string_view kNoAnswerText = "no answer within 100 ms";

// The engine as the link drives it. Why a port could not be opened is what
// `port`, the engine behind `engine`, kept of its open; a port whose probe
// goes unanswered is told by the caller (NoAnswer). Each reason goes to the
// trace when it is known.
class WatchedEngine final : public IPortEngine {
public:
    WatchedEngine(IPortEngine& engine, const SerialPort& port, const PortTable& table)
        : m_engine(engine), m_port(port), m_table(table)
    {
    }

    bool Initialise(ISerialOwner* pPortOwner, unsigned portnr, int baud, char parity, int databits, int stopbits,
                    std::uint32_t eventMask, int sendBufferSize) override;
    bool StartMonitor() override { return m_engine.StartMonitor(); }
    void Send(std::span<const std::uint8_t> data) override { m_engine.Send(data); }
    bool Close() override { return m_engine.Close(); }
    bool RequestCatchUp(std::uint32_t nTag) override { return m_engine.RequestCatchUp(nTag); }

    // The probe on the port opened last has gone unanswered.
    void NoAnswer();

    unsigned OpenPort() const { return m_nOpenPort; }
    const std::vector<PassedPort>& Passed() const { return m_passed; }

private:
    void Pass(unsigned portnr, PortDiagnosis why);

    IPortEngine& m_engine;
    const SerialPort& m_port;
    const PortTable& m_table;
    unsigned m_nOpenPort = 0;
    std::vector<PassedPort> m_passed;
};

// "COM3 (/dev/ttyUSB0)", or the path alone when the user named a path.
std::string PortName(const PortTable& table, unsigned portnr, bool bPathOnly);

// After a search that found nothing: one line a port that has a device,
// "varnis-cli: NAME: why".
void WhyNotFound(const PortTable& table, const std::vector<PassedPort>& passed, bool bPathOnly, std::ostream& err);

}  // namespace varnis::cli
