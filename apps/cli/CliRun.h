// The two commands of varnis-cli.
#pragma once

#include "apps/cli/CliOptions.h"
#include "config/SettingsBuild.h"
#include "serial/PortTable.h"

#include <optional>
#include <ostream>
#include <string>

namespace varnis::cli {

// "AA 20 15 ..." : upper-case hexadecimal bytes separated by single spaces.
std::string FormatFrame(const ConfigurationFrame& frame);

// The ports to search: the machine's COM1 to COM10, or only the one given
// ("COMn" of the machine's table, kept at its number, or a device path
// behind COM1). False with a message when COMn has no device behind it.
bool SelectPorts(const std::optional<std::string>& strPort, PortTable& table, std::string& strError);

// Both return the exit status. Answers go to `out`, everything else to `err`;
// `nInputFd` is where the answers to prompts are read from.
int RunFrame(const CliOptions& options, std::ostream& out, std::ostream& err);
int RunMake(const CliOptions& options, std::ostream& out, std::ostream& err, int nInputFd);
int RunPorts(const CliOptions& options, std::ostream& out, std::ostream& err);
// `make` with `table` standing for the machine's COM1 to COM10 (as if every
// port had been named by its number).
int RunMakeOnTable(const CliOptions& options, const PortTable& table, std::ostream& out, std::ostream& err,
                   int nInputFd);

}  // namespace varnis::cli
