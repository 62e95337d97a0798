#include "MappedFile.h"

#include "Console.h"
#include "ToolError.h"

#include <cstdint>

namespace
{
void Fail(const std::wstring& path, DWORD error)
{
    throw CToolError(ExitFailed, "cannot read " + Utf8(path) + ": " + SystemMessage(error));
}
}

// The view keeps the file open; the handles go at once.
CMappedFile::CMappedFile(const std::wstring& path)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        Fail(path, ::GetLastError());
    LARGE_INTEGER size = {};
    bool bSized = ::GetFileSizeEx(hFile, &size) && static_cast<unsigned long long>(size.QuadPart) <= SIZE_MAX;
    DWORD error = bSized ? ERROR_SUCCESS : ERROR_FILE_TOO_LARGE;
    HANDLE hMapping = nullptr;
    if (bSized && size.QuadPart > 0)
    {
        hMapping = ::CreateFileMappingW(hFile, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (hMapping)
            m_pView = static_cast<const unsigned char*>(::MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, 0));
        if (!m_pView)
            error = ::GetLastError();
    }
    if (hMapping)
        ::CloseHandle(hMapping);
    ::CloseHandle(hFile);
    if (error != ERROR_SUCCESS)
        Fail(path, error);
    m_size = static_cast<size_t>(size.QuadPart);
}

CMappedFile::~CMappedFile()
{
    if (m_pView)
        ::UnmapViewOfFile(m_pView);
}
