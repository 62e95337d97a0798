#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A file that a stand-in opens for one operation.
class CStandinFile
{
public:
    CStandinFile(const std::wstring& path, DWORD access, DWORD sharing, DWORD disposition,
                 DWORD flags = FILE_ATTRIBUTE_NORMAL);
    ~CStandinFile();
    CStandinFile(const CStandinFile&) = delete;
    CStandinFile& operator=(const CStandinFile&) = delete;

    bool isOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    // 0 when it cannot be learnt.
    ULONGLONG Size() const;
    // The whole count or false; a count of 0 needs no buffer.
    bool Read(void* buffer, DWORD count);
    bool Write(const void* buffer, DWORD count);

private:
    HANDLE m_hFile;
};

// The whole file, or false when it cannot be opened or read completely
// (files of 4 GiB and more included).
bool ReadWholeFile(const std::wstring& path, std::vector<BYTE>& bytes);
