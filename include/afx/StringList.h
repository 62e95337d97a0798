#pragma once

#include "afx/Object.h"
#include "afx/String.h"

#include <list>

// A list of strings, used as a queue: added at the tail, taken at the head.
class AFX_API CStringList : public CObject
{
    DECLARE_DYNAMIC(CStringList)
public:
    explicit CStringList(INT_PTR nBlockSize = 10);
    ~CStringList() override;

    INT_PTR GetCount() const { return static_cast<INT_PTR>(m_list.size()); }
    bool IsEmpty() const { return m_list.empty(); }
    const CString& GetHead() const { return m_list.front(); }
    void AddTail(const wchar_t* newElement);
    CString RemoveHead();
    void RemoveAll() { m_list.clear(); }

private:
    std::list<CString> m_list;
};
