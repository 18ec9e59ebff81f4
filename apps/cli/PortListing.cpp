#include "apps/cli/PortListing.h"

#include "apps/cli/CliText.h"
#include "apps/cli/Terminal.h"

namespace varnis::cli {

PortDiagnosis DiagnoseForUser(const std::string& path, const std::string& strProcRoot)
{
    PortDiagnosis why = DiagnosePort(path, strProcRoot);
    if (why.m_eProblem == PortProblem::NoSuchDevice && NamesAbsentControllingTerminal(path)) {
        why.m_strText = "no controlling terminal (" + Printable(path, 200) +
                        " stands for the terminal the program runs in, and it runs in none)";
    }
    return why;
}

std::vector<ListedPort> TablePorts(const PortTable& table)
{
    std::vector<ListedPort> ports;
    for (unsigned n = 1; n <= PortTable::kPortCount; ++n) {
        ports.push_back({"COM" + std::to_string(n), table.PathOf(n), {}});
    }
    return ports;
}

void WritePortList(const std::vector<ListedPort>& ports, const PortInspector& inspector, std::ostream& out)
{
    const auto quoted = [](const std::string& text) { return "\"" + Printable(text, 64) + "\""; };
    for (const ListedPort& port : ports) {
        const std::string path = Printable(port.m_strPath, 200);
        if (port.m_strPath.empty()) {
            out << port.m_strLabel << ": no device\n";
            continue;
        }
        out << (port.m_strLabel.empty() ? path : port.m_strLabel + ": " + path) << '\n';
        const PortFacts facts = inspector.Facts(port.m_strPath);
        if (!facts.m_strName.empty()) {
            out << "  name: " << Printable(facts.m_strName, 200) << '\n';
        }
        out << "  driver: " << (facts.m_strDriver.empty() ? "unknown" : Printable(facts.m_strDriver)) << '\n';
        if (facts.m_bUsb) {
            out << "  USB " << Printable(facts.m_strVendorId) << ':' << Printable(facts.m_strProductId)
                << ", manufacturer " << quoted(facts.m_strManufacturer) << ", product " << quoted(facts.m_strProduct)
                << ", serial number " << quoted(facts.m_strSerialNumber) << '\n';
        }
        out << "  access: " << Printable(inspector.Access(port.m_strPath).m_strText, 300) << '\n';
        if (const std::string passedOver = inspector.PassedOver(port.m_strPath); !passedOver.empty()) {
            out << "  " << Printable(passedOver, 300) << '\n';
        }
        if (!port.m_strNote.empty()) {
            out << "  note: " << port.m_strNote << '\n';
        }
    }
    out.flush();
}

}  // namespace varnis::cli
