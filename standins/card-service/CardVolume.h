#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// A card image file served as one volume: a drive letter or a physical
// disk. Sector numbers count from the start of the file.
class CCardVolume
{
public:
    static const BYTE FirstDiskVolume = 0x80;
    static const DWORD SectorSize = 512;

    CCardVolume(BYTE volume, const std::wstring& image);
    ~CCardVolume();
    CCardVolume(const CCardVolume&) = delete;
    CCardVolume& operator=(const CCardVolume&) = delete;

    // The system's error code, ERROR_SUCCESS once the image is open.
    DWORD Open();
    BYTE Volume() const { return m_volume; }
    bool IsDisk() const { return m_volume >= FirstDiskVolume; }
    // "E" or "PhysicalDrive0", as the service names volumes in its log.
    std::string Name() const;
    const std::wstring& Image() const { return m_image; }
    ULONGLONG Size() const { return m_size; }
    bool Contains(DWORD first, DWORD count) const;
    // Sectors beyond the end of the image read as zeros.
    bool Read(DWORD first, DWORD count, BYTE* pData) const;
    bool Write(DWORD first, DWORD count, const BYTE* pData) const;

private:
    static OVERLAPPED At(ULONGLONG offset);

    BYTE m_volume;
    std::wstring m_image;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    ULONGLONG m_size = 0;
};

typedef std::vector<std::unique_ptr<CCardVolume>> CCardVolumes;
