#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Appends every message received on the pipe to a file, one line of hex
// each. A line is on disk before its message is answered: a client that
// holds the answer finds its request in the file.
class CRecorder
{
public:
    CRecorder();
    ~CRecorder();
    CRecorder(const CRecorder&) = delete;
    CRecorder& operator=(const CRecorder&) = delete;

    // The system's error code, ERROR_SUCCESS once the file is open.
    DWORD Open(const std::wstring& path);
    // Does nothing unless a file is open.
    void Record(const std::vector<BYTE>& message);

private:
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    CRITICAL_SECTION m_lock;
};
