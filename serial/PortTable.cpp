#include "serial/PortTable.h"

#include <utility>

namespace varnis {

void PortTable::SetPath(unsigned portnr, std::string path)
{
    if (portnr >= 1 && portnr <= kPortCount) {
        m_paths[portnr - 1] = std::move(path);
    }
}

const std::string& PortTable::PathOf(unsigned portnr) const
{
    static const std::string kNone;
    if (portnr < 1 || portnr > kPortCount) {
        return kNone;
    }
    return m_paths[portnr - 1];
}

}  // namespace varnis
