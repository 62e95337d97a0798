#include "afx/MapStringToString.h"

#include <cwchar>

IMPLEMENT_DYNAMIC(CMapStringToString, CObject)

namespace
{
const size_t HashTableSize = 67;
}

// Entries are allocated one by one, so the block size has nothing to tune.
CMapStringToString::CMapStringToString(INT_PTR)
    : m_buckets(HashTableSize, nullptr)
{
}

CMapStringToString::~CMapStringToString()
{
    RemoveAll();
}

UINT CMapStringToString::HashKey(const wchar_t* key)
{
    UINT nHash = 0;
    while (*key)
        nHash = (nHash << 5) + nHash + *key++;
    return nHash;
}

CMapStringToString::CAssoc* CMapStringToString::Find(const wchar_t* key, UINT nHashValue) const
{
    for (CAssoc* pAssoc = m_buckets[nHashValue % HashTableSize]; pAssoc; pAssoc = pAssoc->pNext)
    {
        if (pAssoc->nHashValue == nHashValue && pAssoc->key == key)
            return pAssoc;
    }
    return nullptr;
}

BOOL CMapStringToString::Lookup(const wchar_t* key, CString& rValue) const
{
    const CAssoc* pAssoc = Find(key, HashKey(key));
    if (!pAssoc)
        return FALSE;
    rValue = pAssoc->value;
    return TRUE;
}

void CMapStringToString::SetAt(const wchar_t* key, const wchar_t* newValue)
{
    UINT nHashValue = HashKey(key);
    if (CAssoc* pAssoc = Find(key, nHashValue))
    {
        pAssoc->value = newValue;
        return;
    }
    CAssoc*& pBucket = m_buckets[nHashValue % HashTableSize];
    pBucket = new CAssoc{ pBucket, nHashValue, key, newValue };
    ++m_nCount;
}

BOOL CMapStringToString::RemoveKey(const wchar_t* key)
{
    UINT nHashValue = HashKey(key);
    for (CAssoc** ppAssoc = &m_buckets[nHashValue % HashTableSize]; *ppAssoc; ppAssoc = &(*ppAssoc)->pNext)
    {
        CAssoc* pAssoc = *ppAssoc;
        if (pAssoc->nHashValue == nHashValue && pAssoc->key == key)
        {
            *ppAssoc = pAssoc->pNext;
            delete pAssoc;
            --m_nCount;
            return TRUE;
        }
    }
    return FALSE;
}

void CMapStringToString::RemoveAll()
{
    for (CAssoc*& pBucket : m_buckets)
    {
        while (CAssoc* pAssoc = pBucket)
        {
            pBucket = pAssoc->pNext;
            delete pAssoc;
        }
    }
    m_nCount = 0;
}

POSITION CMapStringToString::FirstFrom(size_t nBucket) const
{
    for (; nBucket < HashTableSize; ++nBucket)
    {
        if (m_buckets[nBucket])
            return reinterpret_cast<POSITION>(m_buckets[nBucket]);
    }
    return nullptr;
}

POSITION CMapStringToString::GetStartPosition() const
{
    return FirstFrom(0);
}

void CMapStringToString::GetNextAssoc(POSITION& rNextPosition, CString& rKey, CString& rValue) const
{
    const CAssoc* pAssoc = reinterpret_cast<const CAssoc*>(rNextPosition);
    rKey = pAssoc->key;
    rValue = pAssoc->value;
    rNextPosition = pAssoc->pNext ? reinterpret_cast<POSITION>(pAssoc->pNext)
                                  : FirstFrom(pAssoc->nHashValue % HashTableSize + 1);
}
