#pragma once

#include <windows.h>

#include <string>

// A whole file mapped read-only; an empty file has no view. The file stays
// open, shared for reading only, while it is mapped: a view keeps no writer
// out, and a file rewritten or cut short under it would fault its reader.
class CMappedFile
{
public:
    // Throws CToolError(ExitFailed) when the file cannot be opened or mapped.
    explicit CMappedFile(const std::wstring& path);
    ~CMappedFile();

    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    const unsigned char* Data() const { return m_pView; }
    size_t Size() const { return m_size; }

private:
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    const unsigned char* m_pView = nullptr;
    size_t m_size = 0;
};
