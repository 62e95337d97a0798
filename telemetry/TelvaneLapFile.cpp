// The Telvane source serves a finished lap file as the card: the file is
// mapped, never read into memory, and its compressed parts are inflated
// straight from the view.
#include "Sectorix/SectorixTelvane.h"

#include "telemetry/LapImage.h"

namespace
{
const DWORD LapFileFlags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;
}

// A file that cannot be mapped, or whose list block or compressed parts do
// not hold together within the file, is rejected; its view and handle, if
// any, go with the next release. The handle is kept while the lap is
// served: a mapping alone keeps no writer out, and a lap of the same
// numbers stored again would rewrite the bytes being inflated.
bool CSectorixTelvane::PrepareLapFile(CString path)
{
    m_ftLapFile = {};
    HANDLE hFile = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, LapFileFlags, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    m_hLapFile = hFile;
    HANDLE hMapping = ::CreateFileMappingW(hFile, nullptr, PAGE_READONLY, 0, 0, nullptr);
    FILETIME created = {};
    ::GetFileTime(hFile, &created, nullptr, nullptr);
    LARGE_INTEGER size = {};
    bool sized = ::GetFileSizeEx(hFile, &size) && static_cast<unsigned long long>(size.QuadPart) <= SIZE_MAX;
    if (hMapping)
        m_pView = static_cast<const BYTE*>(::MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, 0));
    bool prepared = m_pView && sized && m_pLapImage->Open(m_pView, static_cast<size_t>(size.QuadPart));
    if (prepared)
    {
        m_listBlock = m_pLapImage->ListBlock();
        m_ftLapFile = created;
    }
    if (hMapping)
        ::CloseHandle(hMapping);
    return prepared;
}

bool CSectorixTelvane::PrepareHdrFile()
{
    return m_pLapImage->InflateHeader();
}

void CSectorixTelvane::ReleaseLap()
{
    if (m_pLapImage)
        m_pLapImage->Close();
    if (m_pView)
    {
        ::UnmapViewOfFile(m_pView);
        m_pView = nullptr;
    }
    if (m_hLapFile != INVALID_HANDLE_VALUE)
    {
        ::CloseHandle(m_hLapFile);
        m_hLapFile = INVALID_HANDLE_VALUE;
    }
}
