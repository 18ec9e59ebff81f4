#include "serial/PortTable.h"

#include <utility>

namespace varnis {

void PortTable::SetPath(unsigned portnr, std::string path)
{
    if (portnr >= 1 && portnr <= kPortCount) {
        m_paths[portnr - 1] = std::move(path);
        m_namedByPath[portnr - 1] = false;
    }
}

void PortTable::SetNamedPath(unsigned portnr, std::string path)
{
    SetPath(portnr, std::move(path));
    if (portnr >= 1 && portnr <= kPortCount) {
        m_namedByPath[portnr - 1] = !m_paths[portnr - 1].empty();
    }
}

bool PortTable::IsNamedByPath(unsigned portnr) const
{
    return portnr >= 1 && portnr <= kPortCount && m_namedByPath[portnr - 1];
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
