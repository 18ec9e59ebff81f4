// Which device node stands behind COM1 to COM10.
#pragma once

#include <array>
#include <string>

namespace varnis {

class PortTable {
public:
    static constexpr unsigned kPortCount = 10;

    // An empty table: no port behind any number.
    PortTable() = default;
    // The machine's own serial ports (realised once per system). On POSIX:
    // /dev/ttyUSB*, then /dev/ttyACM*, then /dev/ttyS* that have a UART, each
    // in numeric order; COMn is the n-th.
    // On Windows: COM1 to COM10, each as itself (\\.\COMn), listed by the
    // system or not; a port it lists as a Bluetooth modem is left out.
    static PortTable FromSystem();
    // What the user means by COM`portnr` (realised once per system): on
    // Windows \\.\COMn for every n; on POSIX the n-th of FromSystem, none
    // above COM10.
    static std::string ComPath(unsigned portnr);

    // Put `path` behind COM`portnr` (1..10); an empty path removes it.
    void SetPath(unsigned portnr, std::string path);
    // The same for a port the user named by its path rather than by a COM
    // number: the engine's reports then name the path.
    void SetNamedPath(unsigned portnr, std::string path);
    bool IsNamedByPath(unsigned portnr) const;
    // The path behind COM`portnr`, empty when there is none.
    const std::string& PathOf(unsigned portnr) const;

private:
    std::array<std::string, kPortCount> m_paths{};
    std::array<bool, kPortCount> m_namedByPath{};
};

}  // namespace varnis
