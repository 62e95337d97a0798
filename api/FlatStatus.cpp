#include "api/FlatStatus.h"

#include "Sectorix/Sectorix.h"
#include "Sectorix/SectorixFlat.h"
#include "Sectorix/Watchguard.h"
#include "afx/SingleLock.h"

#include <cstdio>

namespace Sectorix
{

namespace
{
const UINT FlatNotifyMessage = SECTORIX_WM_NOTIFY;
const wchar_t Prompt[] = L"Bitte Flashkarte JETZT einstecken ...\r\n";
const int GermanText = 0;
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
// that were deleted with it. PeekMessage hands out WM_QUIT whatever the
// filter: it is put back for the wait.
void CFlatStatus::DropStaleNotifications()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, FlatNotifyMessage, FlatNotifyMessage, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
    }
}

// Messages other than the notifications are dropped undispatched, as the
// telemetry library's own wait drops them.
CFlatStatus::WaitEnd CFlatStatus::WaitForCard(CWatchguard* pWatchguard)
{
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        if (msg.message != FlatNotifyMessage)
            continue;
        CSectorix* pSource = reinterpret_cast<CSectorix*>(msg.lParam);
        switch (msg.wParam)
        {
        case MediaRemoved:
            PrintMediaText(pSource);
            break;
        case MediaInserted:
            PrintMediaText(pSource);
            if (pSource)
            {
                pWatchguard->ActivateSectorix(pSource, SetActive);
                return CardFound;
            }
            break;
        case StatusTerminate:
            ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
            return Terminated;
        }
    }
    return QuitReceived;
}

void CFlatStatus::PrintMediaText(CSectorix* pSource)
{
    if (!pSource)
        return;
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
