// COM1 to COM10 on Windows: the system's own names, each standing for
// itself. Whether a device answers to the name is found out by opening it,
// as the search does; a port that is not there fails to open and is skipped.
#include "serial/PortTable.h"

#include <string>

namespace varnis {

PortTable PortTable::FromSystem()
{
    PortTable table;
    for (unsigned portnr = 1; portnr <= kPortCount; ++portnr) {
        table.SetPath(portnr, "\\\\.\\COM" + std::to_string(portnr));
    }
    return table;
}

}  // namespace varnis
