// The flat functions that open and close the link: in flat mode the
// library acts as the telemetry library and runs the watchguard itself; in
// class mode the host owns the watchguard's life.
#include "Sectorix/Sectorix.h"
#include "Sectorix/Watchguard.h"
#include "afx/CriticalSection.h"
#include "afx/ModuleState.h"
#include "afx/SingleLock.h"
#include "api/FlatExports.h"
#include "api/FlatStatus.h"
#include "api/FlatWait.h"
#include "watchguard/Globals.h"

using namespace Sectorix;

namespace
{
// A close request that the thread's queue refused is posted again.
const DWORD CloseRepostInterval = 1000;

// Held by a terminate request while it tells the watchguard, and by the
// end of the link while it deletes the watchguard: a request from another
// thread reaches the watchguard whole or not at all.
CCriticalSection g_terminateLock;

bool IsWatchguardThread(CWatchguard* pWatchguard)
{
    return pWatchguard && pWatchguard->m_nThreadID == ::GetCurrentThreadId();
}
}

extern "C" int WINAPI initTelvaneCommunication()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    if (g_bFlatMode)
        return 1;
    if (g_pWatchguard)
        return 0;
    CWatchguard* pWatchguard = InitWatchguard();
    if (!pWatchguard)
        return 0;
    pWatchguard->EnableDrives(true);
    pWatchguard->EnableSPIDirect(true, 0, nullptr, 0);
    pWatchguard->EnableCSM(true);
    return 1;
}

extern "C" int WINAPI startTelvaneCommunication()
{
    CWatchguard* pWatchguard = g_pWatchguard;
    if (g_bFlatMode)
        return pWatchguard ? 0 : 1;
    return pWatchguard && pWatchguard->TelvaneStartCommunication() ? 1 : 0;
}

// The first call of a flat host starts the watchguard and waits for a card.
// A wait ended by WM_QUIT goes on to the status, as the telemetry library's
// does.
extern "C" int WINAPI getTelvaneStatus(unsigned short* status)
{
    if (!status)
        return 0;
    if (g_bFlatMode && !g_pWatchguard)
        return CFlatStatus::First(status);
    CWatchguard* pWatchguard = g_pWatchguard;
    if (!pWatchguard)
        return 0;
    CFlatStatus::Query(pWatchguard, status);
    return 1;
}

// A flat wait that is still starting has no notification target yet: it is
// told directly too, and the request counts even before the watchguard
// exists.
extern "C" int WINAPI getTelvaneStatusTerminate()
{
    CSingleLock lock(&g_terminateLock, TRUE);
    CWatchguard* pWatchguard = g_pWatchguard;
    if (pWatchguard)
        pWatchguard->SendNotification(StatusTerminate, nullptr);
    bool bWaitTold = CFlatWait::Terminate();
    return bWaitTold || pWatchguard ? 1 : 0;
}

extern "C" int WINAPI endTelvaneCommunication()
{
    CWatchguard* pWatchguard = g_pWatchguard;
    if (!pWatchguard)
        return 0;
    if (g_bFlatMode)
    {
        if (CSectorix* pSource = pWatchguard->GetActiveSectorix())
            pSource->TelvaneEndTransmit();
        pWatchguard->ActivateSectorix(nullptr, SetActive);
    }
    return pWatchguard->TelvaneEndCommunication() ? 1 : 0;
}

// A thread that already ended (its wait was terminated) is found ended at
// once. Called on the watchguard's own thread, from a notification, it
// would wait for itself: it refuses instead. A flat wait on another thread
// is ended first and out of the watchguard before it goes; on the waiting
// thread itself (a window of the host's, dispatched by the wait) the end is
// refused too.
extern "C" int WINAPI deinitTelvaneCommunication()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    if (IsWatchguardThread(g_pWatchguard) || !CFlatWait::TerminateAndWait())
        return 0;
    CWatchguard* pWatchguard = g_pWatchguard;
    if (!pWatchguard)
        return 0;
    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    while (::WaitForSingleObject(pWatchguard->m_hThread, CloseRepostInterval) == WAIT_TIMEOUT)
        ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    CSingleLock lock(&g_terminateLock, TRUE);
    delete pWatchguard;
    g_pWatchguard = nullptr;
    return 1;
}
