// The watchguard's drive sources: enabling them, their arrival and removal,
// and finding them by drive name.
#include "Sectorix/Watchguard.h"

#include "Sectorix/SectorixDrive.h"
#include "Sectorix/SectorixService.h"
#include "afx/SingleLock.h"
#include "sources/DeviceApi.h"
#include "sources/DriveTypeName.h"
#include "sources/SectorixImageFile.h"
#include "watchguard/Logbuch.h"
#include "watchguard/WatchguardMessages.h"

#include <winioctl.h>

#include <cwchar>
#include <new>

using namespace Sectorix;

namespace
{
const wchar_t DriveMutexName[] = L"Global\\CWatchguard::EnableDrives::Mutex";
const DWORD DosNameSize = MAX_PATH;
const DWORD ArrivalDelay = 1000;
const DWORD RemovalDelay = 500;
const DWORD ExtentsBufferSize = 1024;
const int PhysicalDriveCount = 64;

// Image files are read as drives but are enabled one by one, apart from
// the drives, and stay when the drives go.
bool IsDriveSource(CSectorix* pSource)
{
    return pSource->IsKindOf(RUNTIME_CLASS(CSectorixDrive)) && pSource->GetSectorixType() != TypeImageFile;
}

bool IsDosDevice(const wchar_t* name)
{
    wchar_t target[DosNameSize];
    return g_deviceApi.QueryDosDeviceW(name, target, DosNameSize) != 0;
}
}

BEGIN_MESSAGE_MAP(CWatchguard, CWinThread)
    ON_THREAD_MESSAGE(WM_WATCHGUARD, OnWmWatchguard)
    ON_THREAD_MESSAGE(WM_WATCHGUARD_INTERNAL, OnWmWatchguardInternal)
END_MESSAGE_MAP()

// Only one process on the machine uses drive sources at a time. A card
// service that knows physical disks gets every disk there is; otherwise
// drives C to Z are looked at and only removable ones get a source. The
// source itself finds out whether it holds a card.
bool CWatchguard::EnableDrives(bool enable)
{
    CSingleLock lock(&m_lock, TRUE);
    if (!enable)
    {
        for (INT_PTR i = 0; i < m_sources.GetSize();)
        {
            if (IsDriveSource(m_sources[i]))
                Remove(m_sources[i], true);
            else
                ++i;
        }
        m_mutexDrive.Unlock();
        return true;
    }
    if (!m_mutexDrive.Lock(DriveMutexName))
        return false;
    if (CSectorixService::IsServiceAvailable() && CSectorixService::s_ServiceVersion >= ServiceVersionPhysicalDrives)
        AddPhysicalDrives();
    else
        AddRemovableDrives();
    return true;
}

void CWatchguard::AddPhysicalDrives()
{
    for (int disk = 0; disk < PhysicalDriveCount; ++disk)
    {
        CString name;
        name.Format(L"PhysicalDrive%d", disk);
        if (!IsDosDevice(name))
            continue;
        TLogbuch::Instance().WriteFormat(L"Sectorix\t\t%s", name.GetString());
        AddDrive(static_cast<unsigned char>(PhysicalDriveUnit + disk));
    }
}

void CWatchguard::AddRemovableDrives()
{
    for (wchar_t letter = L'C'; letter <= L'Z'; ++letter)
    {
        CString name;
        name.Format(L"%c:", letter);
        if (!IsDosDevice(name))
            continue;
        UINT driveType = g_deviceApi.GetDriveTypeW(name);
        TLogbuch::Instance().WriteFormat(L"Sectorix\t\tDrive Type %s\t%s (%d)", name.GetString(),
                                         DriveTypeName(driveType), driveType);
        if (driveType == DRIVE_REMOVABLE)
            AddDrive(static_cast<unsigned char>(letter));
    }
}

// Registered before its first test, so that a card already in the drive is
// announced to the host.
void CWatchguard::AddDrive(unsigned char unit)
{
    if (Find(RUNTIME_CLASS(CSectorixDrive), unit))
        return;
    if (CSectorixDrive* pSource = CSectorixDrive::Create(this, unit, false))
    {
        m_sources.Add(pSource);
        pSource->TestMedia(false);
    }
}

// Each call adds one more image source; a missing path never becomes a card.
bool CWatchguard::EnableImageFile(const wchar_t* path)
{
    if (!path)
        return false;
    CSingleLock lock(&m_lock, TRUE);
    CSectorixImageFile* pSource = new (std::nothrow) CSectorixImageFile(this, path);
    if (!pSource)
        return false;
    m_sources.Add(pSource);
    pSource->TestMedia(false);
    return true;
}

// An arrival waits a second, so the new volume has settled before it is opened.
void CWatchguard::OnWmWatchguard(WPARAM wParam, LPARAM lParam)
{
    if (LOWORD(wParam) != UnitArrived)
        OnWmWatchguardInternal(wParam, lParam);
    else
        PostDelayed(nullptr, WM_WATCHGUARD_INTERNAL, wParam, lParam, ArrivalDelay);
}

void CWatchguard::OnWmWatchguardInternal(WPARAM wParam, LPARAM lParam)
{
    WORD unit = LOWORD(lParam);
    CSectorix* pSource = Find(RUNTIME_CLASS(CSectorixDrive), unit);
    if (!m_mutexDrive.isEnabled() || !m_mutexDrive.isOwned())
        return;
    switch (LOWORD(wParam))
    {
    case UnitArrived:
        if (!pSource)
        {
            wchar_t volume = static_cast<wchar_t>(unit);
            if (volume < PhysicalDriveUnit)
                ::CharUpperBuffW(&volume, 1);
            pSource = CSectorixDrive::Create(this, static_cast<unsigned char>(volume), true);
            if (!pSource)
                return;
            CSingleLock lock(&m_lock, TRUE);
            m_sources.Add(pSource);
        }
        pSource->TestMedia(false);
        break;
    case UnitRemoved:
        if (pSource)
            pSource->TestMedia(true);
        ::Sleep(RemovalDelay);
        Remove(pSource, true);
        break;
    }
}

// A drive letter on a single disk is looked up by that disk first, as the
// card service serves whole disks.
CSectorix* CWatchguard::GetSectorix(const wchar_t* name)
{
    if (!name)
        return nullptr;
    wchar_t letter = name[0];
    if (iswalpha(letter) && letter < 0x80 && name[1] == L':' && name[2] == L'\0')
    {
        CSectorix* pSource = nullptr;
        CString volumePath;
        volumePath.Format(L"\\\\.\\%c:", letter);
        HANDLE hVolume = g_deviceApi.CreateFileW(volumePath, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                 nullptr);
        if (hVolume != INVALID_HANDLE_VALUE)
        {
            BYTE extentsBuffer[ExtentsBufferSize];
            DWORD returned = 0;
            const auto* pExtents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(extentsBuffer);
            if (g_deviceApi.DeviceIoControl(hVolume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, extentsBuffer,
                                            sizeof(extentsBuffer), &returned, nullptr) &&
                pExtents->NumberOfDiskExtents == 1)
                pSource = Find(RUNTIME_CLASS(CSectorixDrive), PhysicalDriveUnit + pExtents->Extents[0].DiskNumber);
            ::CloseHandle(hVolume);
        }
        return pSource ? pSource : Find(RUNTIME_CLASS(CSectorixDrive), letter);
    }
    int disk = 0;
    wchar_t rest = 0;
    if (swscanf(name, L"\\\\.\\PhysicalDrive%d%lc", &disk, &rest) == 1 && disk >= 0 && disk < 0x80)
        return Find(RUNTIME_CLASS(CSectorixDrive), PhysicalDriveUnit + disk);
    return nullptr;
}
