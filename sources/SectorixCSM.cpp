#include "sources/SectorixCSM.h"

#include "Sectorix/CMDLLApi.h"
#include "Sectorix/Watchguard.h"
#include "afx/CriticalSection.h"
#include "afx/SingleLock.h"

using namespace Sectorix;

IMPLEMENT_DYNAMIC(CSectorixCSM, CSectorix)

namespace
{
const wchar_t* const MediaTexts[2][2] = {
    { L"Medium aus CSM-OmniDrive/SoftDrive entfernt.", L"Medium in CSM-OmniDrive/SoftDrive eingelegt." },
    { L"Media removed from CSM-OmniDrive/SoftDrive.", L"Media inserted in CSM-OmniDrive/SoftDrive." },
};

// The CMDLL binding when the host has it selected and it is loaded. Callers
// hold the binding's use lock while they use it. A library the host
// unloaded stays unloaded: a drive never selects one.
CCMDLLApi* LoadedCMDLL()
{
    CCSMDLL* pCSMDLL = CCSMDLL::GetSelectedCSMDLL();
    if (!pCSMDLL || !pCSMDLL->isValid() || !pCSMDLL->IsKindOf(RUNTIME_CLASS(CCMDLLApi)))
        return nullptr;
    return static_cast<CCMDLLApi*>(pCSMDLL);
}
}

CSectorixCSM::CSectorixCSM(CWatchguard* pWatchguard, DWORD drive)
    : CSectorix(pWatchguard, TypeCSM)
    , m_dwDrive(drive)
{
}

CSectorixCSM::~CSectorixCSM() = default;

bool CSectorixCSM::isFor(DWORD unit)
{
    return unit == m_dwDrive;
}

CString CSectorixCSM::GetMediaText(int language)
{
    return MediaTexts[language == 0 ? 0 : 1][m_bMediaPresent ? 1 : 0];
}

// The library works on the drive that Activate selected.
const wchar_t* CSectorixCSM::GetCSMDataSourceName()
{
    return nullptr;
}

// While a medium is in the drive each poll refreshes the card size, which
// also tells when it has gone; while none is, each poll asks the drive's
// status.
bool CSectorixCSM::TestMedia(bool)
{
    CSingleLock lock(&CCSMDLL::GetUseLock(), TRUE);
    if (!Activate())
        return false;
    CCMDLLApi* pCMDLL = LoadedCMDLL();
    if (m_bMediaPresent)
    {
        if (pCMDLL->cmdllGetCardSize(&m_dwCardSize) == CARDLIB_NO_CARD)
        {
            m_bMediaPresent = false;
            m_pWatchguard->SendNotification(MediaRemoved, this);
        }
        return false;
    }
    SECTORIX_CMDLL_DRIVE_STATUS status = {};
    if (pCMDLL->cmdllGetDriveStatus(&status) == CARDLIB_SUCCESS && (status.flags & CCMDLLApi::DriveStatusMedium))
    {
        m_bMediaPresent = true;
        m_pWatchguard->SendNotification(MediaInserted, this);
    }
    return false;
}

// Another library than CMDLL has no drives to select.
bool CSectorixCSM::Activate()
{
    CSingleLock lock(&CCSMDLL::GetUseLock(), TRUE);
    CCMDLLApi* pCMDLL = LoadedCMDLL();
    return pCMDLL && pCMDLL->cmdllSelectDrive(static_cast<int>(m_dwDrive)) == static_cast<int>(m_dwDrive);
}

unsigned long long CSectorixCSM::GetCardSize()
{
    return m_dwCardSize;
}

bool CSectorixCSM::ReadSectorsA(BYTE*, DWORD, UINT)
{
    return false;
}

bool CSectorixCSM::ReadSectorsB(BYTE*, UINT, DWORD*)
{
    return false;
}

bool CSectorixCSM::WriteSectors(BYTE*, DWORD, UINT)
{
    return false;
}

bool CSectorixCSM::TelvaneGetStatus(unsigned short* status)
{
    *status = STATUS_CONNECTED;
    return true;
}

bool CSectorixCSM::TelvaneEndTransmit()
{
    return false;
}

bool CSectorixCSM::TelvaneRestartMeasurement()
{
    return false;
}

bool CSectorixCSM::TelvaneSendCommand(unsigned short, BYTE*, unsigned short*, BYTE*)
{
    return false;
}

bool CSectorixCSM::TelvaneGetPacketSize(UINT*)
{
    return false;
}

bool CSectorixCSM::TelvaneGetError(unsigned short*, wchar_t*)
{
    return false;
}

bool CSectorixCSM::TelvaneReloginMemoryCard()
{
    return true;
}

bool CSectorixCSM::TelvanePutLogbookEntry(DWORD)
{
    return false;
}

bool CSectorixCSM::isCardInserted()
{
    return m_bMediaPresent;
}
