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

    bool IsEmpty() const { return m_list.empty(); }
    void AddTail(const wchar_t* newElement);
    CString RemoveHead();

private:
    std::list<CString> m_list;
};
