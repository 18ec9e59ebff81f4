// What Windows tells about a port without a driver query: nothing the
// listing shows beyond the port's name and whether it can be opened.
#include "apps/cli/PortListing.h"

#include <utility>

namespace varnis::cli {

PortInspector::PortInspector(std::string strSysRoot, std::string strProcRoot)
    : m_strSysRoot(std::move(strSysRoot)), m_strProcRoot(std::move(strProcRoot))
{
}

PortFacts PortInspector::Facts(const std::string&) const
{
    return {};
}

}  // namespace varnis::cli
