#include "CallRecord.h"

#include <cstdarg>
#include <cstdio>

namespace
{
const size_t MaxLine = 512;
}

CCallRecord::CCallRecord()
{
    ::InitializeCriticalSection(&m_lock);
}

CCallRecord::~CCallRecord()
{
    ::DeleteCriticalSection(&m_lock);
}

void CCallRecord::Add(const wchar_t* format, ...)
{
    wchar_t line[MaxLine];
    va_list arguments;
    va_start(arguments, format);
    int length = _vsnwprintf(line, MaxLine - 1, format, arguments);
    va_end(arguments);
    line[length < 0 ? MaxLine - 1 : length] = L'\0';
    ::EnterCriticalSection(&m_lock);
    m_lines += line;
    m_lines += L'\n';
    ::LeaveCriticalSection(&m_lock);
}

size_t CCallRecord::Copy(wchar_t* buffer, size_t size)
{
    ::EnterCriticalSection(&m_lock);
    size_t length = m_lines.size();
    if (buffer && size)
    {
        size_t copied = m_lines.copy(buffer, size - 1);
        buffer[copied] = L'\0';
    }
    ::LeaveCriticalSection(&m_lock);
    return length;
}

void CCallRecord::Clear()
{
    ::EnterCriticalSection(&m_lock);
    m_lines.clear();
    ::LeaveCriticalSection(&m_lock);
}
