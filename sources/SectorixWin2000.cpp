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
// Enough to ask a volume for its disk and a disk for its layout.
const DWORD QueryAccess = GENERIC_READ;
const DWORD DeviceSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD DeviceFlags = FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL;
const DWORD QueryBufferSize = 1024;
const int LockAttempts = 10;
const DWORD LockRetryDelay = 100;

HANDLE OpenDevice(const CString& path, DWORD access)
{
    return g_deviceApi.CreateFileW(path, access, DeviceSharing, nullptr, OPEN_EXISTING, DeviceFlags, nullptr);
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

// A lock that is refused may be granted a moment later, when whoever
// held the device has let go.
bool LockDevice(HANDLE hDevice, DWORD& error)
{
    for (int attempt = 1; attempt <= LockAttempts; ++attempt)
    {
        if (Control(hDevice, FSCTL_LOCK_VOLUME))
            return true;
        error = ::GetLastError();
        if (attempt < LockAttempts)
            ::Sleep(LockRetryDelay);
    }
    return false;
}
}

CSectorixWin2000::CSectorixWin2000(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged)
    : CSectorixDrive(pWatchguard, volume, hotPlugged)
{
}

CSectorixWin2000::~CSectorixWin2000()
{
    Detach(false);
}

bool CSectorixWin2000::isOpened()
{
    return m_hDevice != INVALID_HANDLE_VALUE;
}

// Asks the volume and its disk what they hold without locking or
// dismounting anything, so that a program with files on the volume keeps
// them. An open card is there: its volume is locked and cannot be asked.
// The media test of the watchguard's thread and the open of a host's share
// the device handles, so they take turns.
bool CSectorixWin2000::isCardInserted()
{
    CSingleLock lock(&m_csSectors, TRUE);
    if (isOpened())
        return true;
    if (!Attach(false))
        return false;
    Detach(false);
    return true;
}

bool CSectorixWin2000::OpenCard()
{
    CSingleLock lock(&m_csSectors, TRUE);
    return Attach(true);
}

// Every way out but success closes what was opened and says why: to the
// log book always, to the host when there is a text for it. Only an
// exclusive attach takes the volume and locks the disk.
bool CSectorixWin2000::Attach(bool exclusive)
{
    UINT driveType = DriveType();
    CString errorText;
    DWORD errorCode = 0;
    DWORD lockError = 0;
    if (IsCardDriveType(driveType) && OpenPhysicalDisk(exclusive, errorText, errorCode) &&
        m_qwCardSize != 0 && (!exclusive || LockDevice(m_hDevice, lockError)))
    {
        TLogbuch::Instance().WriteFormat(L"Sectorix\tOnCmdOpen\tSuccess Drive Type %s:\t%s (%d)",
                                         VolumeName().GetString(), Sectorix::DriveTypeName(driveType), driveType);
        return true;
    }
    if (!errorText.IsEmpty() && m_pWatchguard)
        m_pWatchguard->SendLogMessage(errorText, errorCode);
    TLogbuch::Instance().WriteFormat(L"Sectorix\tOnCmdOpen\tFailed Drive Type %s:\t%s (%d)",
                                     VolumeName().GetString(), Sectorix::DriveTypeName(driveType), driveType);
    Detach(exclusive);
    return false;
}

// The disk first, then the volume, whose file system Windows mounts again
// when it is next used.
void CSectorixWin2000::Detach(bool unlock)
{
    for (HANDLE* phDevice : { &m_hDevice, &m_hVolume })
    {
        if (*phDevice == INVALID_HANDLE_VALUE)
            continue;
        if (unlock)
            Control(*phDevice, FSCTL_UNLOCK_VOLUME);
        ::CloseHandle(*phDevice);
        *phDevice = INVALID_HANDLE_VALUE;
    }
}

// Leaves the physical disk open in m_hDevice and the card size measured;
// an exclusive open keeps the locked volume in m_hVolume.
bool CSectorixWin2000::OpenPhysicalDisk(bool exclusive, CString& errorText, DWORD& errorCode)
{
    const DWORD access = exclusive ? DeviceAccess : QueryAccess;
    CString volumePath;
    volumePath.Format(L"\\\\.\\%c:", m_nVolume);
    m_hDevice = OpenDevice(volumePath, access);
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
    if (exclusive && !TakeVolume(volumePath, errorText, errorCode))
        return false;

    HANDLE hDisk = OpenDevice(physicalPath, access);
    if (hDisk == INVALID_HANDLE_VALUE)
    {
        errorCode = ::GetLastError();
        errorText.Format(L"Cannot open physical drive %s of volume %s (Error %d)", physicalPath.GetString(),
                         volumePath.GetString(), errorCode);
        LogOpenStep(errorText);
        return false;
    }
    if (exclusive)
        m_hVolume = m_hDevice;
    else
        ::CloseHandle(m_hDevice);
    m_hDevice = hDisk;
    m_qwPosition = UnknownPosition;
    if (!ReadPartitionEnd(physicalPath, errorText, errorCode))
        return false;
    ApplyGeometry(physicalPath, errorText, errorCode);
    return true;
}

// Windows dismounts a volume under the files that programs hold open on
// it, and they lose them; a lock is granted only when none are open, and
// only then is the volume dismounted.
bool CSectorixWin2000::TakeVolume(const CString& volumePath, CString& errorText, DWORD& errorCode)
{
    if (!LockDevice(m_hDevice, errorCode))
    {
        errorText.Format(L"Volume %s is in use by another program and cannot be locked (Error %d)",
                         volumePath.GetString(), errorCode);
        LogOpenStep(errorText);
        return false;
    }
    if (!Control(m_hDevice, FSCTL_DISMOUNT_VOLUME))
    {
        errorText.Format(L"Cannot dismouse volume %s (Error %d)", volumePath.GetString(), ::GetLastError());
        LogOpenStep(errorText);
    }
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

bool CSectorixWin2000::CloseCard()
{
    CSingleLock lock(&m_csSectors, TRUE);
    if (m_hDevice == INVALID_HANDLE_VALUE)
        return false;
    Detach(true);
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
    if (bytesRead != bytes)
    {
        ReportShortRead(bytesRead, bytes);
        return false;
    }
    return !shortened;
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

// The device ended before the card did: Windows' code for reading at the
// end of a file stands for the missing bytes.
void CSectorixWin2000::ReportShortRead(DWORD bytesRead, DWORD bytes)
{
    CString text;
    text.Format(L"Volume %s: Read error, %u of %u bytes read (%d) !", VolumeName().GetString(), bytesRead, bytes,
                ERROR_HANDLE_EOF);
    Tell(text, ERROR_HANDLE_EOF);
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
    Tell(text, code);
}

void CSectorixWin2000::Tell(const CString& text, DWORD code)
{
    TLogbuch::Instance().Write(text);
    if (m_pWatchguard)
        m_pWatchguard->SendLogMessage(text, code);
}
