#pragma once

#include "afx/Object.h"
#include "afx/String.h"

#include <vector>

// A hash map from strings to strings, walked with positions.
class AFX_API CMapStringToString : public CObject
{
    DECLARE_DYNAMIC(CMapStringToString)
public:
    explicit CMapStringToString(INT_PTR nBlockSize = 10);
    ~CMapStringToString() override;

    INT_PTR GetCount() const { return m_nCount; }
    BOOL Lookup(const wchar_t* key, CString& rValue) const;
    void SetAt(const wchar_t* key, const wchar_t* newValue);
    BOOL RemoveKey(const wchar_t* key);
    void RemoveAll();

    POSITION GetStartPosition() const;
    void GetNextAssoc(POSITION& rNextPosition, CString& rKey, CString& rValue) const;

private:
    struct CAssoc
    {
        CAssoc* pNext;
        UINT nHashValue;
        CString key;
        CString value;
    };

    static UINT HashKey(const wchar_t* key);
    CAssoc* Find(const wchar_t* key, UINT nHashValue) const;
    POSITION FirstFrom(size_t nBucket) const;

    std::vector<CAssoc*> m_buckets;
    INT_PTR m_nCount = 0;
};
