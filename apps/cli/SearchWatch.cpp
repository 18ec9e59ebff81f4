#include "apps/cli/SearchWatch.h"

#include "apps/cli/CliText.h"
#include "apps/cli/PortListing.h"
#include "serial/SerialNotify.h"

#include <algorithm>

namespace varnis::cli {

bool WatchedEngine::Initialise(ISerialOwner* pPortOwner, unsigned portnr, int baud, char parity, int databits,
                               int stopbits, std::uint32_t eventMask, int sendBufferSize)
{
    if (m_engine.Initialise(pPortOwner, portnr, baud, parity, databits, stopbits, eventMask, sendBufferSize)) {
        m_nOpenPort = portnr;
        return true;
    }
    m_nOpenPort = 0;
    const std::string& path = m_table.PathOf(portnr);
    if (path.empty()) {
        return false;  // no device behind this number: nothing to tell
    }
    Pass(portnr, ForUser(m_port.LastOpenFailure(), path));
    return false;
}

void WatchedEngine::NoAnswer()
{
    if (m_nOpenPort != 0) {
        Pass(m_nOpenPort, {PortProblem::None, std::string(kNoAnswerText)});
    }
}

void WatchedEngine::Pass(unsigned portnr, PortDiagnosis why)
{
    Trace(PortName(m_table, portnr, false) + " skipped: " + Printable(why.m_strText, 200) + "\n");
    // A port is told once, with its latest reason.
    std::erase_if(m_passed, [portnr](const PassedPort& port) { return port.m_nPort == portnr; });
    m_passed.push_back({portnr, std::move(why)});
}

std::string PortName(const PortTable& table, unsigned portnr, bool bPathOnly)
{
    const std::string path = Printable(table.PathOf(portnr), 200);
    return bPathOnly ? path : "COM" + std::to_string(portnr) + " (" + path + ")";
}

void WhyNotFound(const PortTable& table, const std::vector<PassedPort>& passed, bool bPathOnly, std::ostream& err)
{
    for (unsigned portnr = 1; portnr <= PortTable::kPortCount; ++portnr) {
        if (table.PathOf(portnr).empty()) {
            continue;
        }
        const auto found = std::find_if(passed.begin(), passed.end(),
                                        [portnr](const PassedPort& port) { return port.m_nPort == portnr; });
        if (found != passed.end()) {
            err << "varnis-cli: " << PortName(table, portnr, bPathOnly) << ": "
                << Printable(found->m_why.m_strText, 300) << '\n';
        }
    }
    err.flush();
}

}  // namespace varnis::cli
