#include "api/FlatStatus.h"

#include "Sectorix/Sectorix.h"
#include "Sectorix/SectorixFlat.h"
#include "Sectorix/Watchguard.h"
#include "afx/ModuleState.h"
#include "afx/SingleLock.h"
#include "api/FlatWait.h"

#include <cstdio>

namespace Sectorix
{

namespace
{
const UINT FlatNotifyMessage = SECTORIX_WM_NOTIFY;
const wchar_t Prompt[] = L"Bitte Flashkarte JETZT einstecken ...\r\n";
const int GermanText = 0;
// The filter of PeekMessage that takes thread messages only.
const HWND ThreadMessages = reinterpret_cast<HWND>(-1);
}

// The call is registered before the watchguard exists, so that an end
// asked for at any moment from now on is seen by the wait; and it stays
// registered until the status is read, so that ending the link waits for
// it.
int CFlatStatus::First(unsigned short* status)
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    CFlatWait wait;
    if (!wait.IsRegistered())
        return 0;
    CWatchguard* pWatchguard = Start();
    if (!pWatchguard || WaitForCard(pWatchguard, wait) == Terminated)
        return 0;
    Query(pWatchguard, status);
    return 1;
}

// The notifications are aimed at this thread before the drives are looked
// at: a card already in its drive is announced by the drive's first test,
// and the wait must not miss it. The queue is made first, or that
// announcement would have nowhere to go.
CWatchguard* CFlatStatus::Start()
{
    CWatchguard* pWatchguard = InitWatchguard();
    if (!pWatchguard)
        return nullptr;
    DropStaleNotifications();
    pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, FlatNotifyMessage);
    pWatchguard->EnableDrives(true);
    if (!pWatchguard->TelvaneStartCommunication())
        return nullptr;
    std::wprintf(L"%ls", Prompt);
    std::fflush(stdout);
    return pWatchguard;
}

// Notifications left in the queue by an earlier watchguard name sources
// that were deleted with it; the same message posted to a window of the
// thread is the window's. PeekMessage hands out WM_QUIT whatever the
// filter: it is put back for the wait.
void CFlatStatus::DropStaleNotifications()
{
    MSG msg;
    while (::PeekMessageW(&msg, ThreadMessages, FlatNotifyMessage, FlatNotifyMessage, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
    }
}

// Messages other than the notifications are dropped undispatched, as the
// telemetry library's own wait drops them. Only thread messages are
// notifications: the same message posted to a window of the thread is
// the window's, and goes there.
CFlatStatus::WaitEnd CFlatStatus::WaitForCard(CWatchguard* pWatchguard, const CFlatWait& wait)
{
    MSG msg;
    while (!wait.IsEnding())
    {
        if (::GetMessageW(&msg, nullptr, 0, 0) <= 0)
            return QuitReceived;
        if (msg.message != FlatNotifyMessage)
            continue;
        if (msg.hwnd)
        {
            ::DispatchMessageW(&msg);
            continue;
        }
        if (msg.wParam == StatusTerminate)
            break;
        if ((msg.wParam == MediaRemoved || msg.wParam == MediaInserted) &&
            OnMedia(pWatchguard, msg.wParam, reinterpret_cast<CSectorix*>(msg.lParam)))
            return CardFound;
    }
    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    return Terminated;
}

// A notification counts only for a source that the watchguard holds,
// removed ones included: the same message from anyone else names no source
// of ours. A removed source's media line is still shown; only a registered
// one is a card.
bool CFlatStatus::OnMedia(CWatchguard* pWatchguard, WPARAM state, CSectorix* pSource)
{
    if (!Holds(pWatchguard, pSource))
        return false;
    PrintMediaText(pSource);
    return state == MediaInserted && Activate(pWatchguard, pSource);
}

bool CFlatStatus::Holds(CWatchguard* pWatchguard, CSectorix* pSource)
{
    CSingleLock lock(&pWatchguard->m_lock, TRUE);
    for (INT_PTR i = 0; i < pWatchguard->m_sources.GetSize(); ++i)
    {
        if (pWatchguard->m_sources[i] == pSource)
            return true;
    }
    for (INT_PTR i = 0; i < pWatchguard->m_removed.GetSize(); ++i)
    {
        if (pWatchguard->m_removed[i] == pSource)
            return true;
    }
    return false;
}

// The source may have gone since it was announced: it is checked and
// activated under one hold of the lock.
bool CFlatStatus::Activate(CWatchguard* pWatchguard, CSectorix* pSource)
{
    CSingleLock lock(&pWatchguard->m_lock, TRUE);
    if (!pWatchguard->isValid(pSource))
        return false;
    pWatchguard->ActivateSectorix(pSource, SetActive);
    return true;
}

void CFlatStatus::PrintMediaText(CSectorix* pSource)
{
    std::wprintf(L"%ls\r\n", pSource->GetMediaText(GermanText).GetString());
    std::fflush(stdout);
}

void CFlatStatus::Query(CWatchguard* pWatchguard, unsigned short* status)
{
    CSingleLock lock(&pWatchguard->m_lock, TRUE);
    CSectorix* pSource = pWatchguard->GetActiveSectorix();
    if (!pSource || !pSource->TelvaneGetStatus(status))
        *status = STATUS_NOT_CONNECTED;
}

}
