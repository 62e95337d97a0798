#include "Sectorix/SectorixService.h"
#include "Sectorix/Watchguard.h"
#include "afx/ModuleState.h"
#include "api/FlatExports.h"
#include "telemetry/ListBlock.h"
#include "watchguard/Globals.h"
#include "watchguard/Logbuch.h"

CWatchguard* volatile g_pWatchguard = nullptr;
volatile bool g_bFlatMode = true;

namespace
{
const DWORD StartPollInterval = 10;
}

// The public C header spells the library's values out for hosts in C.
static_assert(SECTORIX_STATUS_CONNECTED == Sectorix::STATUS_CONNECTED, "status word");
static_assert(SECTORIX_STATUS_NOT_CONNECTED == Sectorix::STATUS_NOT_CONNECTED, "status word");
static_assert(SECTORIX_STATUS_CARD_NOT_OPENED == Sectorix::STATUS_CARD_NOT_OPENED, "status word");
static_assert(SECTORIX_WATCHGUARD_STOPPED == WatchguardStopped && SECTORIX_WATCHGUARD_STARTED == WatchguardStarted &&
                  SECTORIX_MEDIA_REMOVED == MediaRemoved && SECTORIX_MEDIA_INSERTED == MediaInserted &&
                  SECTORIX_STATUS_TERMINATE == StatusTerminate,
              "notification states");
static_assert(SECTORIX_NOTIFY_LAP_STARTED == Sectorix::NOTIFY_LAP_STARTED &&
                  SECTORIX_NOTIFY_LAP_DONE == Sectorix::NOTIFY_LAP_DONE &&
                  SECTORIX_NOTIFY_LAP_FAILED == Sectorix::NOTIFY_LAP_FAILED &&
                  SECTORIX_NOTIFY_LAP_PRESENT == Sectorix::NOTIFY_LAP_PRESENT &&
                  SECTORIX_NOTIFY_VERSION == Sectorix::NOTIFY_VERSION,
              "telemetry notifications");
static_assert(SECTORIX_TYPE_RT9A_BURST == TypeRT9ABurst && SECTORIX_TYPE_SPI_DIRECT == TypeSPIDirect &&
                  SECTORIX_TYPE_TELVANE == TypeTelvane && SECTORIX_TYPE_DRIVE == TypeDrive &&
                  SECTORIX_TYPE_CSM == TypeCSM && SECTORIX_TYPE_IMAGE_FILE == TypeImageFile,
              "source types");
static_assert(SECTORIX_ARP_DELETE_SUCCESS == eDeleteArpEntrySuccess &&
                  SECTORIX_ARP_DELETE_FAILED == eDeleteArpEntryFailed,
              "ARP results");
static_assert(SECTORIX_SECTOR_SIZE == Sectorix::SectorSize, "sector size");
static_assert(SECTORIX_LIST_BLOCK_SIZE == ListBlockSize &&
                  SECTORIX_LIST_BLOCK_FIRST_DATA_SECTOR == ListBlockFirstDataSectorOffset &&
                  SECTORIX_LIST_BLOCK_HEADER_OFFSET == ListBlockHeaderOffsetOffset &&
                  SECTORIX_LIST_BLOCK_HEADER_SIZE == ListBlockHeaderSizeOffset &&
                  SECTORIX_LIST_BLOCK_HEADER_PACKED_SIZE == ListBlockHeaderPackedSizeOffset &&
                  SECTORIX_LIST_BLOCK_DATA_OFFSET == ListBlockDataOffsetOffset &&
                  SECTORIX_LIST_BLOCK_DATA_PACKED_SIZE == ListBlockDataPackedSizeOffset,
              "list block");

// Returns once the watchguard thread has its window, so the host can use the
// watchguard at once. A thread that ends before that fails the start.
extern "C" CWatchguard* WINAPI InitWatchguard()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    if (g_pWatchguard)
        return nullptr;
    CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CWatchguard), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (!pThread)
        return nullptr;
    CWatchguard* pWatchguard = static_cast<CWatchguard*>(pThread);
    g_pWatchguard = pWatchguard;
    pWatchguard->ResumeThread();
    while (!pWatchguard->GetMainWnd())
    {
        if (::WaitForSingleObject(pWatchguard->m_hThread, StartPollInterval) == WAIT_OBJECT_0)
        {
            delete pWatchguard;
            return nullptr;
        }
    }
    return pWatchguard;
}

extern "C" CWatchguard* WINAPI GetWatchguard()
{
    g_bFlatMode = false;
    return g_pWatchguard;
}

extern "C" bool WINAPI SetLogFolder(const wchar_t* folder)
{
    return TLogbuch::Instance().SetFolder(folder);
}

extern "C" LONG WINAPI DeleteArpEntry(DWORD address)
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    return CSectorixService::DeleteArpEntry(address);
}
