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

// The search's steps as the link reports them. Why a port could not be
// opened is what the engine kept of its open, handed in with the step. Each
// reason goes to the trace when it is known.
class SearchWatch {
public:
    explicit SearchWatch(const PortTable& table) : m_table(table) {}

    // `openFailure`: the engine's reason, for a port that was not opened.
    void OnStep(const SearchStep& step, const PortDiagnosis& openFailure);

    // The port probed last.
    unsigned OpenPort() const { return m_nOpenPort; }
    const std::vector<PassedPort>& Passed() const { return m_passed; }

private:
    void Pass(unsigned portnr, PortDiagnosis why);

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
