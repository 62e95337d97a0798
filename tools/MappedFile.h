#pragma once

#include <windows.h>

#include <string>

// A whole file mapped read-only; an empty file has no view.
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
    const unsigned char* m_pView = nullptr;
    size_t m_size = 0;
};
