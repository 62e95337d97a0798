#include "MappedFile.h"

#include "Console.h"
#include "ToolError.h"

#include <cstdint>

namespace
{
std::string Failure(const std::wstring& path, DWORD error)
{
    return "cannot read " + Utf8(path) + ": " + SystemMessage(error);
}
}

// The mapping's handle goes at once, the view keeps the mapping; the file's
// handle stays until the view goes.
CMappedFile::CMappedFile(const std::wstring& path)
{
    m_hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE)
        throw CToolError(ExitFailed, Failure(path, ::GetLastError()));
    LARGE_INTEGER size = {};
    bool bSized = ::GetFileSizeEx(m_hFile, &size) && static_cast<unsigned long long>(size.QuadPart) <= SIZE_MAX;
    DWORD error = bSized ? ERROR_SUCCESS : ERROR_FILE_TOO_LARGE;
    HANDLE hMapping = nullptr;
    if (bSized && size.QuadPart > 0)
    {
        hMapping = ::CreateFileMappingW(m_hFile, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (hMapping)
            m_pView = static_cast<const unsigned char*>(::MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, 0));
        if (!m_pView)
            error = ::GetLastError();
    }
    if (hMapping)
        ::CloseHandle(hMapping);
    if (error != ERROR_SUCCESS)
    {
        ::CloseHandle(m_hFile);
        throw CToolError(ExitFailed, Failure(path, error));
    }
    m_size = static_cast<size_t>(size.QuadPart);
}

CMappedFile::~CMappedFile()
{
    if (m_pView)
        ::UnmapViewOfFile(m_pView);
    ::CloseHandle(m_hFile);
}
