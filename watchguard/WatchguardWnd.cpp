#include "watchguard/WatchguardWnd.h"

#include "Sectorix/SectorixRT9ABurst.h"
#include "Sectorix/SectorixSPIDirect.h"
#include "Sectorix/SectorixService.h"
#include "Sectorix/SectorixTelvane.h"
#include "Sectorix/Watchguard.h"
#include "afx/SingleLock.h"
#include "sources/DeviceApi.h"
#include "telemetry/TelemetryLibrary.h"
#include "watchguard/Logbuch.h"
#include "watchguard/WatchguardMessages.h"

#include <vector>

namespace Sectorix
{

namespace
{
const UINT_PTR WatchTimerId = 1;
const UINT WatchTimerInterval = 2000;
const DWORD DosDeviceListSize = 4096;
const DWORD AllDriveLetters = 0xFFFFFFFF;
const int DriveLetterCount = 26;
const int PhysicalDriveLimit = 0x80;

// A drive letter: exactly two characters, the second a colon.
bool IsDriveLetter(const CString& name)
{
    return name.GetLength() == 2 && name.GetAt(1) == L':';
}

// "PhysicalDrive<n>" and nothing after it; n must fit a drive unit.
bool IsPhysicalDrive(const CString& name, int& disk)
{
    wchar_t rest = 0;
    return swscanf(name, L"PhysicalDrive%d%lc", &disk, &rest) == 1 && disk >= 0 && disk < PhysicalDriveLimit;
}

bool UsesPhysicalDrives()
{
    return CSectorixService::s_ServiceVersion >= ServiceVersionPhysicalDrives;
}

// All DOS device names, each ending in a zero, the list ending in an empty
// name even if the system filled the buffer to its last character. False
// when the system gave no list for another reason than a short buffer.
bool QueryDosDeviceNames(std::vector<wchar_t>& names)
{
    names.assign(DosDeviceListSize, L'\0');
    DWORD length;
    while ((length = g_deviceApi.QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0)
    {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        names.resize(names.size() * 2);
    }
    names.resize(length);
    names.push_back(L'\0');
    names.push_back(L'\0');
    return true;
}
}

BEGIN_MESSAGE_MAP(CWatchguardWnd, CWnd)
    ON_WM_CREATE()
    ON_WM_DESTROY()
    ON_WM_TIMER()
    ON_WM_DEVICECHANGE()
    ON_MESSAGE(WM_ENUM_DOSDEVICES, OnEnumerateDosDevices)
    ON_MESSAGE(WM_TELVANE_STATUS, OnTelvaneStatus)
    ON_MESSAGE(WM_SPIDIRECT_STATUS, OnSPIDirectStatus)
    ON_MESSAGE(WM_RT9ABURST_STATUS, OnRT9ABurstStatus)
END_MESSAGE_MAP()

CWatchguardWnd::CWatchguardWnd(CWatchguard* pWatchguard)
    : m_pWatchguard(pWatchguard)
    , m_mapDosDevices(10)
{
    OnEnumerateDosDevices(TRUE, 0);
}

// Volume notices may be refused (Wine does); the broadcast of changed
// device nodes, which drives the enumeration, reaches the window anyway.
int CWatchguardWnd::OnCreate(LPCREATESTRUCTW lpCreateStruct)
{
    if (CWnd::OnCreate(lpCreateStruct) == -1)
        return -1;
    SetTimer(WatchTimerId, WatchTimerInterval, nullptr);
    DEV_BROADCAST_VOLUME filter = {};
    filter.dbcv_size = sizeof(filter);
    filter.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    filter.dbcv_unitmask = AllDriveLetters;
    filter.dbcv_flags = DBTF_MEDIA;
    m_hDevNotify = ::RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return 0;
}

void CWatchguardWnd::OnDestroy()
{
    if (m_hDevNotify)
        ::UnregisterDeviceNotification(m_hDevNotify);
    KillTimer(WatchTimerId);
    CWnd::OnDestroy();
}

void CWatchguardWnd::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent != WatchTimerId)
    {
        CWnd::OnTimer(nIDEvent);
        return;
    }
    if (m_pWatchguard->IsEnabled())
        m_pWatchguard->OnWatchTimer();
}

// Every device event is granted. A change of the device nodes makes the
// window look at the DOS device names again; a medium put into a drive or
// taken out, which leaves the names as they are, is tested at once.
BOOL CWatchguardWnd::OnDeviceChange(UINT nEventType, DWORD_PTR dwData)
{
    if (nEventType == DBT_DEVNODES_CHANGED)
        OnEnumerateDosDevices(FALSE, 0);
    else if (nEventType == DBT_DEVICEARRIVAL || nEventType == DBT_DEVICEREMOVECOMPLETE)
        OnVolumeEvent(reinterpret_cast<const DEV_BROADCAST_HDR*>(dwData), nEventType == DBT_DEVICEREMOVECOMPLETE);
    return TRUE;
}

// The drive letters of the event name the sources; a card service that
// serves whole disks finds its source through the volume's disk.
void CWatchguardWnd::OnVolumeEvent(const DEV_BROADCAST_HDR* pHeader, bool removed)
{
    if (!pHeader || pHeader->dbch_devicetype != DBT_DEVTYP_VOLUME || pHeader->dbch_size < sizeof(DEV_BROADCAST_VOLUME))
        return;
    const auto* pVolume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(pHeader);
    if (!(pVolume->dbcv_flags & DBTF_MEDIA))
        return;
    CSingleLock lock(&m_pWatchguard->m_lock, TRUE);
    for (int drive = 0; drive < DriveLetterCount; ++drive)
    {
        if (!(pVolume->dbcv_unitmask & (1u << drive)))
            continue;
        const wchar_t name[] = { static_cast<wchar_t>(L'A' + drive), L':', L'\0' };
        if (CSectorix* pSource = m_pWatchguard->GetSectorix(name))
            pSource->TestMedia(removed);
    }
}

// Compares the DOS device names with those seen last time; the first pass
// only records them.
LRESULT CWatchguardWnd::OnEnumerateDosDevices(WPARAM wParam, LPARAM)
{
    bool initial = wParam != 0;
    TLogbuch::Instance().Write(L"Enumeration DosDevices ...");
    // Without a list nothing can be said about what came or went; the next
    // round compares with the last good one.
    std::vector<wchar_t> names;
    if (!QueryDosDeviceNames(names))
        return 0;

    CMapStringToString vanished;
    CString key, value;
    for (POSITION pos = m_mapDosDevices.GetStartPosition(); pos;)
    {
        m_mapDosDevices.GetNextAssoc(pos, key, value);
        vanished.SetAt(key, value);
    }
    for (const wchar_t* pName = names.data(); *pName; pName += wcslen(pName) + 1)
    {
        if (m_mapDosDevices.Lookup(pName, value))
        {
            vanished.RemoveKey(pName);
            continue;
        }
        m_mapDosDevices.SetAt(pName, pName);
        if (!initial)
            ReportAdded(pName);
    }
    for (POSITION pos = vanished.GetStartPosition(); pos;)
    {
        vanished.GetNextAssoc(pos, key, value);
        m_mapDosDevices.RemoveKey(key);
        if (!initial)
            ReportRemoved(key);
    }
    return 0;
}

// A card service that serves whole disks is told of disks; drive letters
// are then only kept from volumes it cannot read through the file system.
void CWatchguardWnd::ReportAdded(const CString& name)
{
    if (UsesPhysicalDrives())
    {
        int disk = 0;
        if (IsPhysicalDrive(name, disk))
        {
            TLogbuch::Instance().WriteFormat(L"Sectorix\t\tPhysicalDisk added\t%s", name.GetString());
            PostUnit(UnitArrived, static_cast<WORD>(PhysicalDriveUnit + disk));
        }
        if (IsDriveLetter(name))
            RemoveUnformattedMountPoint(name);
        return;
    }
    if (!IsDriveLetter(name))
        return;
    TLogbuch::Instance().WriteFormat(L"Sectorix\t\tVolume added\t%s", name.GetString());
    PostUnit(UnitArrived, name.GetAt(0) | 0x20);
}

void CWatchguardWnd::ReportRemoved(const CString& name)
{
    if (UsesPhysicalDrives())
    {
        int disk = 0;
        if (!IsPhysicalDrive(name, disk))
            return;
        TLogbuch::Instance().WriteFormat(L"Sectorix\t\tPhysicalDisk removed\t%s", name.GetString());
        PostUnit(UnitRemoved, static_cast<WORD>(PhysicalDriveUnit + disk));
        return;
    }
    if (!IsDriveLetter(name))
        return;
    TLogbuch::Instance().WriteFormat(L"Sectorix\t\tVolume removed\t%s", name.GetString());
    PostUnit(UnitRemoved, name.GetAt(0) | 0x20);
}

// A new card without a file system would otherwise make Windows offer to
// format it.
void CWatchguardWnd::RemoveUnformattedMountPoint(const CString& name)
{
    TLogbuch::Instance().WriteFormat(L"Sectorix\t\tVolume mounted\tMountpoint is %s", name.GetString());
    wchar_t fileSystem[MAX_PATH] = {};
    g_deviceApi.GetVolumeInformationW(name, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH);
    if (fileSystem[0])
        return;
    CString mountPoint;
    mountPoint.Format(L"%s\\", name.GetString());
    CString answer = CSectorixService::ChangeDriveLetter(mountPoint, L"");
    TLogbuch::Instance().WriteFormat(L"Sectorix\t\tRemove mount point %s\t%s", name.GetString(), answer.GetString());
}

// The telemetry libraries post their status changes here.
LRESULT CWatchguardWnd::OnTelvaneStatus(WPARAM wParam, LPARAM lParam)
{
    return m_pWatchguard->OnWmSPI(RUNTIME_CLASS(CSectorixTelvane), wParam, lParam);
}

LRESULT CWatchguardWnd::OnSPIDirectStatus(WPARAM wParam, LPARAM lParam)
{
    return m_pWatchguard->OnWmSPI(RUNTIME_CLASS(CSectorixSPIDirect), wParam, lParam);
}

LRESULT CWatchguardWnd::OnRT9ABurstStatus(WPARAM wParam, LPARAM lParam)
{
    return m_pWatchguard->OnWmRT9ABurst(RUNTIME_CLASS(CSectorixRT9ABurst), wParam, lParam);
}

void CWatchguardWnd::PostUnit(WPARAM change, WORD unit)
{
    ::PostThreadMessageW(m_pWatchguard->m_nThreadID, WM_WATCHGUARD, change, MAKELPARAM(unit, UnitMarker));
}

}
