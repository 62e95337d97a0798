#include "watchguard/WatchguardWnd.h"

#include "Sectorix/Watchguard.h"

namespace Sectorix
{

namespace
{
const UINT_PTR WatchTimerId = 1;
const UINT WatchTimerInterval = 2000;
}

BEGIN_MESSAGE_MAP(CWatchguardWnd, CWnd)
    ON_WM_CREATE()
    ON_WM_DESTROY()
    ON_WM_TIMER()
END_MESSAGE_MAP()

CWatchguardWnd::CWatchguardWnd(CWatchguard* pWatchguard)
    : m_pWatchguard(pWatchguard)
{
}

int CWatchguardWnd::OnCreate(LPCREATESTRUCTW lpCreateStruct)
{
    if (CWnd::OnCreate(lpCreateStruct) == -1)
        return -1;
    SetTimer(WatchTimerId, WatchTimerInterval, nullptr);
    return 0;
}

void CWatchguardWnd::OnDestroy()
{
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

}
