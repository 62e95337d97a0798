#pragma once

#include "afx/AfxDefs.h"

#include <cstdarg>
#include <string>

// UTF-16 string with the members of the MFC string class that the library uses.
class AFX_API CString
{
public:
    CString() = default;
    CString(const wchar_t* psz);
    CString(const wchar_t* pch, int nLength);

    CString& operator=(const wchar_t* psz);
    CString& operator+=(const wchar_t* psz);
    CString& operator+=(wchar_t ch);

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const wchar_t* GetString() const { return m_str.c_str(); }
    operator const wchar_t*() const { return m_str.c_str(); }
    wchar_t GetAt(int nIndex) const { return m_str[static_cast<size_t>(nIndex)]; }

    int Compare(const wchar_t* psz) const;

    void Format(const wchar_t* pszFormat, ...);
    void FormatV(const wchar_t* pszFormat, va_list args);

private:
    std::wstring m_str;
};

inline bool operator==(const CString& s1, const wchar_t* s2) { return s1.Compare(s2) == 0; }
inline bool operator!=(const CString& s1, const wchar_t* s2) { return s1.Compare(s2) != 0; }
inline bool operator==(const wchar_t* s1, const CString& s2) { return s2.Compare(s1) == 0; }
inline bool operator!=(const wchar_t* s1, const CString& s2) { return s2.Compare(s1) != 0; }
