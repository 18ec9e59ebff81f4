// What `varnis-cli ports` tells about each port: its device path, kernel
// driver, USB identity and whether this user can open it, as serial/'s
// PortInfo knows them.
#pragma once

#include "serial/PortDiagnosis.h"
#include "serial/PortInfo.h"
#include "serial/PortTable.h"

#include <ostream>
#include <string>
#include <vector>

namespace varnis::cli {

// Why a port cannot be used, as the user is told: `why` itself, but that
// /dev/tty stands for the program's controlling terminal, and without one
// it cannot be opened.
PortDiagnosis ForUser(PortDiagnosis why, const std::string& path);

// One port to list: "COM3" and its path (an empty path: no device there);
// an empty label lists the path alone.
struct ListedPort {
    std::string m_strLabel;
    std::string m_strPath;
    std::string m_strNote;  // a line of its own when not empty
};

// COM1 to COM10 of the table, in order.
std::vector<ListedPort> TablePorts(const PortTable& table);

// What `ports` lists without --port: the ports the system has
// (PortInfo::AvailablePorts), each the search does not try with a note.
std::vector<ListedPort> SystemPortList(const PortTable& table);
// The note for a port named `name` that the search does not try; empty for
// the others.
std::string SearchNote(const std::string& name);

// Each port with what the system tells about it; `roots` is where it is read.
void WritePortList(const std::vector<ListedPort>& ports, const PortInfoRoots& roots, std::ostream& out);

}  // namespace varnis::cli
