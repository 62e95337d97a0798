#include "afx/PtrArray.h"

IMPLEMENT_DYNAMIC(CPtrArray, CObject)

INT_PTR CPtrArray::Add(void* newElement)
{
    m_data.push_back(newElement);
    return GetSize() - 1;
}

void CPtrArray::RemoveAt(INT_PTR nIndex, INT_PTR nCount)
{
    auto first = m_data.begin() + nIndex;
    m_data.erase(first, first + nCount);
}
