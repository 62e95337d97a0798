#include "Sectorix/SectorixService.h"
#include "Sectorix/Watchguard.h"
#include "afx/ModuleState.h"
#include "api/FlatExports.h"
#include "watchguard/Globals.h"
#include "watchguard/Logbuch.h"

CWatchguard* volatile g_pWatchguard = nullptr;
volatile bool g_bFlatMode = true;

namespace
{
const DWORD StartPollInterval = 10;
}

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

extern "C" eDeleteArpEntryResult WINAPI DeleteArpEntry(DWORD address)
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    return CSectorixService::DeleteArpEntry(address);
}
