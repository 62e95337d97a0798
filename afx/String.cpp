#include "afx/String.h"

#include <cwchar>
#include <vector>

CString::CString(const wchar_t* psz)
    : m_str(psz ? psz : L"")
{
}

CString::CString(const wchar_t* pch, int nLength)
    : m_str(pch, static_cast<size_t>(nLength))
{
}

CString& CString::operator=(const wchar_t* psz)
{
    m_str = psz ? psz : L"";
    return *this;
}

CString& CString::operator+=(const wchar_t* psz)
{
    if (psz)
        m_str += psz;
    return *this;
}

CString& CString::operator+=(wchar_t ch)
{
    m_str += ch;
    return *this;
}

int CString::Compare(const wchar_t* psz) const
{
    return wcscmp(m_str.c_str(), psz ? psz : L"");
}

void CString::Format(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

// The Microsoft run time's formatting: in a wide format %s takes a wide
// string. It answers -1 both for a short buffer and for a bad format, so the
// buffer grows only up to a limit.
void CString::FormatV(const wchar_t* pszFormat, va_list args)
{
    const size_t nMaxChars = 1 << 20;
    std::vector<wchar_t> buffer(256);
    for (;;)
    {
        va_list argsCopy;
        va_copy(argsCopy, args);
        int n = _vsnwprintf(buffer.data(), buffer.size() - 1, pszFormat, argsCopy);
        va_end(argsCopy);
        if (n >= 0)
        {
            m_str.assign(buffer.data(), static_cast<size_t>(n));
            return;
        }
        if (buffer.size() >= nMaxChars)
        {
            buffer.back() = L'\0';
            m_str = buffer.data();
            return;
        }
        buffer.resize(buffer.size() * 2);
    }
}
