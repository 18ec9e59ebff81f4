#include "serial/PortInfo.h"

#include <utility>

namespace varnis {

PortInfo::PortInfo(std::string path, PortInfoRoots roots)
    : m_strPath(std::move(path)), m_roots(std::move(roots)), m_device(ReadDevice(m_strPath, m_roots))
{
}

}  // namespace varnis
