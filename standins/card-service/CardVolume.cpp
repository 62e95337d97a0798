#include "CardVolume.h"

#include <algorithm>
#include <cstring>

namespace
{
const char DiskPrefix[] = "PhysicalDrive";
const DWORD ImageSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const int HighDwordShift = 32;
}

CCardVolume::CCardVolume(BYTE volume, const std::wstring& image)
    : m_volume(volume)
    , m_image(image)
{
}

CCardVolume::~CCardVolume()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile);
}

// The full path goes into the startup line, so that a developer sees which
// file a relative path meant.
DWORD CCardVolume::Open()
{
    DWORD length = ::GetFullPathNameW(m_image.c_str(), 0, nullptr, nullptr);
    std::wstring full(length, L'\0');
    if (length > 0 && ::GetFullPathNameW(m_image.c_str(), length, &full[0], nullptr) == length - 1)
        m_image = full.substr(0, length - 1);
    m_hFile = ::CreateFileW(m_image.c_str(), GENERIC_READ | GENERIC_WRITE, ImageSharing, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    if (m_hFile == INVALID_HANDLE_VALUE || !::GetFileSizeEx(m_hFile, &size))
        return ::GetLastError();
    m_size = static_cast<ULONGLONG>(size.QuadPart);
    return ERROR_SUCCESS;
}

std::string CCardVolume::Name() const
{
    if (IsDisk())
        return DiskPrefix + std::to_string(m_volume - FirstDiskVolume);
    return std::string(1, static_cast<char>(m_volume));
}

bool CCardVolume::Contains(DWORD first, DWORD count) const
{
    return (static_cast<ULONGLONG>(first) + count) * SectorSize <= m_size;
}

bool CCardVolume::Read(DWORD first, DWORD count, BYTE* pData) const
{
    ULONGLONG offset = static_cast<ULONGLONG>(first) * SectorSize;
    ULONGLONG length = static_cast<ULONGLONG>(count) * SectorSize;
    ULONGLONG present = offset < m_size ? std::min(length, m_size - offset) : 0;
    std::memset(pData + present, 0, static_cast<size_t>(length - present));
    OVERLAPPED at = At(offset);
    DWORD read = 0;
    return present == 0 ||
           (::ReadFile(m_hFile, pData, static_cast<DWORD>(present), &read, &at) && read == present);
}

bool CCardVolume::Write(DWORD first, DWORD count, const BYTE* pData) const
{
    DWORD length = count * SectorSize;
    OVERLAPPED at = At(static_cast<ULONGLONG>(first) * SectorSize);
    DWORD written = 0;
    return length == 0 || (::WriteFile(m_hFile, pData, length, &written, &at) && written == length);
}

// Each transfer names its own offset, so that the clients' threads share
// the file without sharing a file pointer.
OVERLAPPED CCardVolume::At(ULONGLONG offset)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> HighDwordShift);
    return at;
}
