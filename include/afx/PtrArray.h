#pragma once

#include "afx/Object.h"

#include <vector>

class AFX_API CPtrArray : public CObject
{
    DECLARE_DYNAMIC(CPtrArray)
public:
    CPtrArray() = default;

    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_data.size()); }
    INT_PTR GetCount() const { return GetSize(); }
    void* GetAt(INT_PTR nIndex) const { return m_data[static_cast<size_t>(nIndex)]; }
    void*& ElementAt(INT_PTR nIndex) { return m_data[static_cast<size_t>(nIndex)]; }
    INT_PTR Add(void* newElement);
    void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1);
    void RemoveAll() { m_data.clear(); }

private:
    std::vector<void*> m_data;
};

template <class BASE_CLASS, class TYPE>
class CTypedPtrArray : public BASE_CLASS
{
public:
    TYPE GetAt(INT_PTR nIndex) const { return static_cast<TYPE>(BASE_CLASS::GetAt(nIndex)); }
    TYPE operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
    INT_PTR Add(TYPE newElement) { return BASE_CLASS::Add(newElement); }
};
