#include "Sectorix/SectorixDrive.h"

#include "Sectorix/SectorixService.h"
#include "Sectorix/Watchguard.h"
#include "afx/ModuleState.h"
#include "sources/DeviceApi.h"
#include "sources/SectorixWin2000.h"
#include "sources/SectorixWin98.h"

#include <new>

IMPLEMENT_DYNAMIC(CSectorixDrive, CSectorix)

namespace
{
const unsigned char PhysicalDriveUnit = 0x80;
const UINT PacketSize = 512;
const wchar_t* const MediaTexts[2][2] = {
    { L"Medium entfernt: %s", L"Medium eingelegt: %s" },
    { L"Media removed: %s", L"Media inserted: %s" },
};
}

// Windows XP or later reads volumes directly or through the card service;
// older systems go through the virtual device.
CSectorixDrive* CSectorixDrive::Create(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged)
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    if (Sectorix::IsWindowsXPOrLater())
    {
        if (CSectorixService::IsServiceAvailable())
            return new (std::nothrow) CSectorixService(pWatchguard, volume, hotPlugged);
        return new (std::nothrow) CSectorixWin2000(pWatchguard, volume, hotPlugged);
    }
    return new (std::nothrow) CSectorixWin98(pWatchguard, volume, hotPlugged);
}

CSectorixDrive::CSectorixDrive(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged)
    : CSectorix(pWatchguard, TypeDrive)
    , m_nVolume(volume)
{
    m_bHotPlugged = hotPlugged;
}

CSectorixDrive::~CSectorixDrive() = default;

void CSectorixDrive::Delete()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    delete this;
}

CString CSectorixDrive::GetDeviceName() const
{
    if (!m_strDeviceName.IsEmpty())
        return m_strDeviceName;
    CString name;
    if (m_nVolume >= PhysicalDriveUnit)
        name.Format(L"PhysicalDrive%d", m_nVolume - PhysicalDriveUnit);
    else
        name.Format(L"%c:", m_nVolume);
    return name;
}

bool CSectorixDrive::isFor(DWORD unit)
{
    wchar_t ch = static_cast<wchar_t>(LOWORD(unit));
    ::CharUpperBuffW(&ch, 1);
    return ch == m_nVolume;
}

// Languages other than German read English.
CString CSectorixDrive::GetMediaText(int language)
{
    CString text;
    text.Format(MediaTexts[language == 0 ? 0 : 1][m_bMediaPresent ? 1 : 0], GetDeviceName().GetString());
    return text;
}

// A card that is open for a transfer is there; it is not opened twice.
bool CSectorixDrive::TestMedia(bool removed)
{
    if (!removed && isCardInserted())
    {
        if (!m_bMediaPresent)
        {
            m_bMediaPresent = true;
            m_pWatchguard->SendNotification(MediaInserted, this);
        }
        return false;
    }
    if (m_bMediaPresent)
    {
        m_bMediaPresent = false;
        m_pWatchguard->SendNotification(MediaRemoved, this);
    }
    return false;
}

bool CSectorixDrive::Activate()
{
    return true;
}

// A host that reads through its classes has no other way back to a
// watchguard that watches; one the host stopped itself stays stopped.
bool CSectorixDrive::Deactivate()
{
    if (m_bHoldsWatchguard)
    {
        m_bHoldsWatchguard = false;
        m_pWatchguard->Enable(true);
    }
    return true;
}

unsigned long long CSectorixDrive::GetCardSize()
{
    return m_qwCardSize;
}

bool CSectorixDrive::ReadSectorsB(BYTE* buffer, UINT count, DWORD* sectors)
{
    for (UINT i = 0; i < count; ++i)
    {
        if (!ReadSectorsA(buffer + static_cast<size_t>(i) * Sectorix::SectorSize, sectors[i], 1))
            return false;
    }
    return true;
}

// A host that drives a card reader through the telemetry-style calls keeps
// the card open from its first status request until the end of transfer;
// the watch timer must not open and close it meanwhile.
bool CSectorixDrive::TelvaneGetStatus(unsigned short* status)
{
    if (!m_bMediaPresent)
        return false;
    if (m_bTransferOpen)
    {
        *status = Sectorix::STATUS_CONNECTED;
        return true;
    }
    if (m_pWatchguard->IsEnabled())
        m_bHoldsWatchguard = true;
    m_pWatchguard->Enable(false);
    if (OpenCard())
    {
        m_bTransferOpen = true;
        *status = Sectorix::STATUS_CONNECTED;
        return true;
    }
    *status = Sectorix::STATUS_CARD_NOT_OPENED;
    m_bHoldsWatchguard = false;
    m_pWatchguard->Enable(true);
    return true;
}

bool CSectorixDrive::TelvaneEndTransmit()
{
    CloseCard();
    m_bTransferOpen = false;
    return true;
}

bool CSectorixDrive::TelvaneRestartMeasurement()
{
    return true;
}

bool CSectorixDrive::TelvaneSendCommand(unsigned short, BYTE*, unsigned short*, BYTE*)
{
    return true;
}

bool CSectorixDrive::TelvaneGetPacketSize(UINT* size)
{
    *size = PacketSize;
    return true;
}

bool CSectorixDrive::TelvaneGetError(unsigned short* code, wchar_t* text)
{
    return m_pWatchguard->TelvaneGetError(code, text);
}

bool CSectorixDrive::TelvaneReloginMemoryCard()
{
    return true;
}

bool CSectorixDrive::TelvanePutLogbookEntry(DWORD)
{
    return false;
}

bool CSectorixDrive::isCardInserted()
{
    if (isOpened())
        return true;
    if (!OpenCard())
        return false;
    CloseCard();
    return true;
}

// Asking a thread's priority costs a trip to the Wine server on every read,
// so each thread is lowered once.
void CSectorixDrive::LowerThreadPriority()
{
    thread_local bool t_bLowered = false;
    if (t_bLowered)
        return;
    HANDLE hThread = ::GetCurrentThread();
    if (::GetThreadPriority(hThread) != THREAD_PRIORITY_LOWEST)
        ::SetThreadPriority(hThread, THREAD_PRIORITY_LOWEST);
    t_bLowered = true;
}

UINT CSectorixDrive::DriveType() const
{
    CString root;
    root.Format(L"%c:", m_nVolume);
    return Sectorix::g_deviceApi.GetDriveTypeW(root);
}

bool CSectorixDrive::IsCardDriveType(UINT driveType)
{
    return driveType == DRIVE_REMOVABLE || driveType == DRIVE_FIXED;
}

UINT CSectorixDrive::SectorsWithinCard(DWORD firstSector, UINT count) const
{
    unsigned long long cardSectors = m_qwCardSize / Sectorix::SectorSize;
    if (firstSector >= cardSectors)
        return 0;
    unsigned long long available = cardSectors - firstSector;
    return count < available ? count : static_cast<UINT>(available);
}

// The system's text for an error code, without the line break it ends with.
void CSectorixDrive::FormatLastError(CString& out, DWORD error, const wchar_t* format)
{
    wchar_t* pText = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&pText), 0, nullptr);
    CString text(pText);
    int n = text.GetLength();
    if (n > 1 && text.GetAt(n - 1) < L' ')
    {
        --n;
        if (n > 1 && text.GetAt(n - 1) < L' ')
            --n;
        text = CString(text.GetString(), n);
    }
    out.Format(format, text.GetString(), error);
    ::LocalFree(pText);
}
