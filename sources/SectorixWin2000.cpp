#include "sources/SectorixWin2000.h"

#include "Sectorix/Watchguard.h"
#include "afx/SingleLock.h"
#include "sources/DeviceApi.h"
#include "sources/DriveTypeName.h"
#include "watchguard/Logbuch.h"

#include <winioctl.h>

IMPLEMENT_DYNAMIC(CSectorixWin2000, CSectorixDrive)

using Sectorix::g_deviceApi;
using Sectorix::SectorSize;

namespace
{
const DWORD DeviceAccess = GENERIC_READ | GENERIC_WRITE;
const DWORD DeviceSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD DeviceFlags = FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL;
const DWORD QueryBufferSize = 1024;
const int LockAttempts = 10;
const DWORD LockRetryDelay = 100;

HANDLE OpenDevice(const CString& path)
{
    return g_deviceApi.CreateFileW(path, DeviceAccess, DeviceSharing, nullptr, OPEN_EXISTING, DeviceFlags, nullptr);
}

bool Control(HANDLE hDevice, DWORD code, void* pOutput = nullptr, DWORD outputSize = 0)
{
    DWORD returned = 0;
    return g_deviceApi.DeviceIoControl(hDevice, code, nullptr, 0, pOutput, outputSize, &returned, nullptr) != FALSE;
}

void LogOpenStep(const CString& text)
{
    TLogbuch::Instance().WriteFormat(L"Sectorix\tOnCmdOpen\t%s", text.GetString());
}
}

CSectorixWin2000::CSectorixWin2000(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged)
    : CSectorixDrive(pWatchguard, volume, hotPlugged)
{
}

CSectorixWin2000::~CSectorixWin2000()
{
    if (m_hDevice != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hDevice);
}

bool CSectorixWin2000::isOpened()
{
    return m_hDevice != INVALID_HANDLE_VALUE;
}

// Every way out but success closes what was opened and says why: to the
// log book always, to the host when there is a text for it.
bool CSectorixWin2000::OpenCard()
{
    UINT driveType = DriveType();
    CString errorText;
    DWORD errorCode = 0;
    if (IsCardDriveType(driveType) && OpenPhysicalDisk(errorText, errorCode) &&
        m_qwCardSize != 0 && LockDisk())
    {
        TLogbuch::Instance().WriteFormat(L"Sectorix\tOnCmdOpen\tSuccess Drive Type %s:\t%s (%d)",
                                         VolumeName().GetString(), Sectorix::DriveTypeName(driveType), driveType);
        return true;
    }
    if (!errorText.IsEmpty() && m_pWatchguard)
        m_pWatchguard->SendLogMessage(errorText, errorCode);
    TLogbuch::Instance().WriteFormat(L"Sectorix\tOnCmdOpen\tFailed Drive Type %s:\t%s (%d)",
                                     VolumeName().GetString(), Sectorix::DriveTypeName(driveType), driveType);
    CloseCard();
    return false;
}

// Leaves the physical disk open in m_hDevice and the card size measured.
bool CSectorixWin2000::OpenPhysicalDisk(CString& errorText, DWORD& errorCode)
{
    CString volumePath;
    volumePath.Format(L"\\\\.\\%c:", m_nVolume);
    m_hDevice = OpenDevice(volumePath);
    m_qwPosition = UnknownPosition;
    if (m_hDevice == INVALID_HANDLE_VALUE)
    {
        errorText.Format(L"Volume %s CreateFile Error = %08x", volumePath.GetString(), ::GetLastError());
        LogOpenStep(errorText);
        return false;
    }

    BYTE extentsBuffer[QueryBufferSize];
    if (!Control(m_hDevice, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, extentsBuffer, sizeof(extentsBuffer)))
        return false;
    const auto* pExtents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(extentsBuffer);
    if (pExtents->NumberOfDiskExtents != 1)
    {
        errorText.Format(L"Volume %s doens't have single extent (extents: %d)", volumePath.GetString(),
                         pExtents->NumberOfDiskExtents);
        LogOpenStep(errorText);
        return false;
    }
    CString physicalPath;
    physicalPath.Format(L"\\\\.\\PhysicalDrive%d", pExtents->Extents[0].DiskNumber);

    if (!Control(m_hDevice, FSCTL_DISMOUNT_VOLUME))
    {
        errorText.Format(L"Cannot dismouse volume %s (Error %d)", volumePath.GetString(), ::GetLastError());
        LogOpenStep(errorText);
    }

    HANDLE hDisk = OpenDevice(physicalPath);
    if (hDisk == INVALID_HANDLE_VALUE)
    {
        errorCode = ::GetLastError();
        errorText.Format(L"Cannot open physical drive %s of volume %s (Error %d)", physicalPath.GetString(),
                         volumePath.GetString(), errorCode);
        LogOpenStep(errorText);
        return false;
    }
    ::CloseHandle(m_hDevice);
    m_hDevice = hDisk;
    m_qwPosition = UnknownPosition;
    if (!ReadPartitionEnd(physicalPath, errorText, errorCode))
        return false;
    ApplyGeometry(physicalPath, errorText, errorCode);
    return true;
}

// The card ends where its last partition ends. A drive without a medium is
// not worth a message to the host.
bool CSectorixWin2000::ReadPartitionEnd(const CString& physicalPath, CString& errorText, DWORD& errorCode)
{
    BYTE layoutBuffer[QueryBufferSize];
    if (!Control(m_hDevice, IOCTL_DISK_GET_DRIVE_LAYOUT, layoutBuffer, sizeof(layoutBuffer)))
    {
        errorCode = ::GetLastError();
        errorText.Format(L"PhysicalDrive %s IOCTL_DISK_GET_DRIVE_LAYOUT (Error = %d)", physicalPath.GetString(),
                         errorCode);
        LogOpenStep(errorText);
        if (errorCode == 0 || errorCode == ERROR_NOT_READY)
            errorText.Empty();
        return false;
    }
    const auto* pLayout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION*>(layoutBuffer);
    const DWORD maxEntries = (sizeof(layoutBuffer) - offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry)) /
                             sizeof(PARTITION_INFORMATION);
    DWORD entries = pLayout->PartitionCount < maxEntries ? pLayout->PartitionCount : maxEntries;
    m_qwCardSize = 0;
    for (DWORD i = 0; i < entries; ++i)
    {
        const PARTITION_INFORMATION& partition = pLayout->PartitionEntry[i];
        unsigned long long partitionEnd = partition.StartingOffset.QuadPart + partition.PartitionLength.QuadPart;
        if (partitionEnd > m_qwCardSize)
            m_qwCardSize = partitionEnd;
    }
    return true;
}

void CSectorixWin2000::ApplyGeometry(const CString& physicalPath, CString& errorText, DWORD& errorCode)
{
    DISK_GEOMETRY geometry = {};
    if (!Control(m_hDevice, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry, sizeof(geometry)))
    {
        errorCode = ::GetLastError();
        errorText.Format(L"PhysicalDrive %s IOCTL_DISK_GET_DRIVE_GEOMETRY Error = %08x", physicalPath.GetString(),
                         errorCode);
        LogOpenStep(errorText);
        return;
    }
    unsigned long long size = static_cast<unsigned long long>(geometry.Cylinders.QuadPart) *
                              geometry.TracksPerCylinder * geometry.SectorsPerTrack * geometry.BytesPerSector;
    if (size > m_qwCardSize)
        m_qwCardSize = size;
}

bool CSectorixWin2000::LockDisk()
{
    for (int attempt = 1; attempt <= LockAttempts; ++attempt)
    {
        if (Control(m_hDevice, FSCTL_LOCK_VOLUME))
            return true;
        if (attempt < LockAttempts)
            ::Sleep(LockRetryDelay);
    }
    return false;
}

bool CSectorixWin2000::CloseCard()
{
    if (m_hDevice == INVALID_HANDLE_VALUE)
        return false;
    Control(m_hDevice, FSCTL_UNLOCK_VOLUME);
    ::CloseHandle(m_hDevice);
    m_hDevice = INVALID_HANDLE_VALUE;
    return true;
}

bool CSectorixWin2000::ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count)
{
    CSingleLock lock(&m_csSectors, TRUE);
    LowerThreadPriority();

    if (static_cast<unsigned long long>(firstSector) * SectorSize >= m_qwCardSize)
    {
        Report(L"Volume %s: ReadSectorsA SetFilePointer behind media size!", 0);
        return false;
    }
    UINT readable = SectorsWithinCard(firstSector, count);
    bool shortened = readable < count;
    if (shortened)
        Report(L"Volume %s: ReadSectorsA read size reduced!", 0);
    DWORD bytes = 0;
    if (!TransferSize(readable, bytes) || !SeekSector(firstSector))
        return false;
    DWORD bytesRead = 0;
    if (!::ReadFile(m_hDevice, buffer, bytes, &bytesRead, nullptr))
    {
        m_qwPosition = UnknownPosition;
        Report(L"Volume %s: Read error (%d) !", ::GetLastError());
        return false;
    }
    m_qwPosition += bytesRead;
    return !shortened && bytesRead == bytes;
}

// Writes never reach past the end of the card: on an image file they would
// grow the file instead of failing.
bool CSectorixWin2000::WriteSectors(BYTE* buffer, DWORD firstSector, UINT count)
{
    CSingleLock lock(&m_csSectors, TRUE);
    if (SectorsWithinCard(firstSector, count) < count)
    {
        Report(L"Volume %s: WriteSectors behind media size!", 0);
        return false;
    }
    DWORD bytes = 0;
    if (!TransferSize(count, bytes) || !SeekSector(firstSector))
        return false;
    DWORD bytesWritten = 0;
    if (!::WriteFile(m_hDevice, buffer, bytes, &bytesWritten, nullptr))
    {
        m_qwPosition = UnknownPosition;
        Report(L"Volume %s: Write error (%d) !", ::GetLastError());
        return false;
    }
    m_qwPosition += bytesWritten;
    return bytesWritten == bytes;
}

// One request moves at most what a single ReadFile or WriteFile can.
bool CSectorixWin2000::TransferSize(UINT count, DWORD& bytes)
{
    unsigned long long size = static_cast<unsigned long long>(count) * SectorSize;
    if (size > MAXDWORD)
    {
        Report(L"Volume %s: transfer too large (%d) !", ERROR_INVALID_PARAMETER);
        return false;
    }
    bytes = static_cast<DWORD>(size);
    return true;
}

// Sequential requests continue where the last one ended and need no seek,
// which would cost a trip to the Wine server per request.
bool CSectorixWin2000::SeekSector(DWORD firstSector)
{
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(firstSector) * SectorSize;
    if (static_cast<unsigned long long>(offset.QuadPart) == m_qwPosition)
        return true;
    if (::SetFilePointerEx(m_hDevice, offset, nullptr, FILE_BEGIN))
    {
        m_qwPosition = static_cast<unsigned long long>(offset.QuadPart);
        return true;
    }
    m_qwPosition = UnknownPosition;
    Report(L"Volume %s: SetFilePointer error (%d) !", ::GetLastError());
    return false;
}

CString CSectorixWin2000::VolumeName() const
{
    CString name;
    if (m_nVolume >= 0x80)
        name.Format(L"PhysicalDrive%d", m_nVolume - 0x80);
    else if (m_nVolume != 0)
        name.Format(L"%c", m_nVolume);
    return name;
}

// The texts of sector access name the volume, then the error code, if any;
// they go to the log book and to the host.
void CSectorixWin2000::Report(const wchar_t* format, DWORD code)
{
    CString text;
    text.Format(format, VolumeName().GetString(), code);
    TLogbuch::Instance().Write(text);
    if (m_pWatchguard)
        m_pWatchguard->SendLogMessage(text, code);
}
