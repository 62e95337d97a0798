#pragma once

#include <windows.h>

#include <string>

// The lines the entries add as they are called, kept for the tests to read.
class CCallRecord
{
public:
    CCallRecord();
    ~CCallRecord();
    CCallRecord(const CCallRecord&) = delete;
    CCallRecord& operator=(const CCallRecord&) = delete;

    void Add(const wchar_t* format, ...);
    // Copies what fits into the buffer, terminated; answers the full length.
    size_t Copy(wchar_t* buffer, size_t size);
    void Clear();

private:
    CRITICAL_SECTION m_lock;
    std::wstring m_lines;
};
