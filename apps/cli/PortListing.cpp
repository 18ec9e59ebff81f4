#include "apps/cli/PortListing.h"

#include "config/TextCharacters.h"
#include "platform/Terminal.h"

namespace varnis::cli {
namespace {

std::string NoteOf(SearchSkip eSkip, const std::string& name)
{
    switch (eSkip) {
    case SearchSkip::None: return {};
    case SearchSkip::BeyondTable:
        return "above COM10: the window's search (and make without --port) does not try it; --port " + name +
               " reaches it";
    case SearchSkip::BluetoothModem:
        return "a Bluetooth modem port: the search does not try it; --port " + name + " reaches it";
    }
    return {};
}

}  // namespace

PortDiagnosis ForUser(PortDiagnosis why, const std::string& path)
{
    if (why.m_eProblem == PortProblem::NoSuchDevice && console::NamesAbsentControllingTerminal(path)) {
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

std::vector<ListedPort> SystemPortList(const PortTable& table)
{
    std::vector<ListedPort> ports;
    for (const AvailablePort& port : PortInfo::AvailablePorts(table)) {
        ports.push_back({port.m_strName, port.m_strPath, NoteOf(port.m_eSkip, port.m_strName)});
    }
    return ports;
}

std::string SearchNote(const std::string& name)
{
    return NoteOf(PortInfo::SearchSkipOf(name), name);
}

void WritePortList(const std::vector<ListedPort>& ports, const PortInfoRoots& roots, std::ostream& out)
{
    const auto quoted = [](const std::string& text) { return "\"" + Printable(text, 64) + "\""; };
    for (const ListedPort& port : ports) {
        const std::string path = Printable(port.m_strPath, 200);
        if (port.m_strPath.empty()) {
            out << port.m_strLabel << ": no device\n";
            continue;
        }
        out << (port.m_strLabel.empty() ? path : port.m_strLabel + ": " + path) << '\n';
        const PortInfo info(port.m_strPath, roots);
        const PortDevice& device = info.Device();
        if (!device.m_strName.empty()) {
            out << "  name: " << Printable(device.m_strName, 200) << '\n';
        }
        out << "  driver: " << (device.m_strDriver.empty() ? "unknown" : Printable(device.m_strDriver)) << '\n';
        if (device.m_bUsb) {
            out << "  USB " << Printable(device.m_strVendorId) << ':' << Printable(device.m_strProductId)
                << ", manufacturer " << quoted(device.m_strManufacturer) << ", product " << quoted(device.m_strProduct)
                << ", serial number " << quoted(device.m_strSerialNumber) << '\n';
        }
        out << "  access: " << Printable(ForUser(info.Access(), port.m_strPath).m_strText, 300) << '\n';
        if (const std::string passedOver = info.PassedOverLockFile(); !passedOver.empty()) {
            out << "  " << Printable(passedOver, 300) << '\n';
        }
        if (!port.m_strNote.empty()) {
            out << "  note: " << port.m_strNote << '\n';
        }
    }
    out.flush();
}

}  // namespace varnis::cli
