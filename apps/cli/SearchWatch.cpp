#include "apps/cli/SearchWatch.h"

#include "config/TextCharacters.h"
#include "apps/cli/PortListing.h"
#include "serial/SerialNotify.h"

#include <algorithm>

namespace varnis::cli {

void SearchWatch::OnStep(const SearchStep& step, const PortDiagnosis& openFailure)
{
    switch (step.m_eKind) {
    case SearchStepKind::Probing:
    case SearchStepKind::Found: m_nOpenPort = step.m_nPort; return;
    case SearchStepKind::Unanswered: Pass(step.m_nPort, {PortProblem::None, std::string(kNoAnswerText)}); return;
    case SearchStepKind::NotOpened: break;
    }
    const std::string& path = m_table.PathOf(step.m_nPort);
    if (path.empty()) {
        return;  // no device behind this number: nothing to tell
    }
    Pass(step.m_nPort, ForUser(openFailure, path));
}

void SearchWatch::Pass(unsigned portnr, PortDiagnosis why)
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
