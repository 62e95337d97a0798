#include "afx/StringList.h"

IMPLEMENT_DYNAMIC(CStringList, CObject)

// Elements are allocated one by one, so the block size has nothing to tune.
CStringList::CStringList(INT_PTR)
{
}

CStringList::~CStringList() = default;

void CStringList::AddTail(const wchar_t* newElement)
{
    m_list.emplace_back(newElement);
}

// The list must not be empty, as in MFC.
CString CStringList::RemoveHead()
{
    CString head = m_list.front();
    m_list.pop_front();
    return head;
}
