#include "ui/core/MemorySurface.h"

#include "ui/core/FormTable.h"

#include <span>

namespace varnis {

MemorySurface::MemorySurface()
{
    for (const FormItem& item : MainFormItems()) {
        if (item.m_nId != 0)
            m_controls[item.m_nId] = {};
    }
    m_controls[kIdPortList].m_bEnabled = false;
}

void MemorySurface::Enable(int nId, bool bEnable)
{
    m_controls.at(nId).m_bEnabled = bEnable;
    if (!bEnable && m_nFocus == nId)
        MoveFocus(NextTabStop(nId));
}

bool MemorySurface::IsEnabled(int nId) const
{
    return m_controls.at(nId).m_bEnabled;
}

void MemorySurface::SetCheck(int nId, bool bChecked)
{
    m_controls.at(nId).m_bChecked = bChecked;
}

bool MemorySurface::IsChecked(int nId) const
{
    return m_controls.at(nId).m_bChecked;
}

void MemorySurface::Select(int nId, int nIndex)
{
    m_controls.at(nId).m_nSelection = nIndex;
}

int MemorySurface::Selection(int nId) const
{
    return m_controls.at(nId).m_nSelection;
}

void MemorySurface::SetText(int nId, std::string_view text)
{
    m_controls.at(nId).m_strText = text;
}

std::string MemorySurface::Text(int nId) const
{
    return m_controls.at(nId).m_strText;
}

bool MemorySurface::MarkAsClicked(int nId)
{
    const FormItem* pItem = FindFormItem(nId);
    if (pItem == nullptr || !IsEnabled(nId))
        return false;
    if (pItem->m_eKind == ControlKind::Check) {
        m_controls.at(nId).m_bChecked = !m_controls.at(nId).m_bChecked;
    } else if (pItem->m_eKind == ControlKind::Radio) {
        for (const int nOther : GroupMembers(pItem->m_nGroup))
            m_controls.at(nOther).m_bChecked = nOther == nId;
    }
    return true;
}

int MemorySurface::NextTabStop(int nId) const
{
    const std::span<const int> order = MainTabOrder();
    std::size_t nAt = 0;
    while (nAt < order.size() && order[nAt] != nId)
        ++nAt;
    for (std::size_t n = 1; n <= order.size(); ++n) {
        const int nNext = order[(nAt + n) % order.size()];
        if (m_controls.at(nNext).m_bEnabled)
            return nNext;
    }
    return 0;
}

}  // namespace varnis
