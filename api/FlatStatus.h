#pragma once

#include <windows.h>

class CSectorix;
class CWatchguard;

namespace Sectorix
{

class CFlatWait;

// getTelvaneStatus: for a host that never asked for the watchguard, the
// watchguard started with its drives and the wait for a card in one of
// them; for every host, the status query of the active source.
class CFlatStatus
{
public:
    enum WaitEnd
    {
        CardFound,
        Terminated,
        QuitReceived
    };

    // The first call of a flat host: the watchguard started, the wait for a
    // card, then the status; 0 when the watchguard did not start or the
    // wait was ended.
    static int First(unsigned short* status);
    // The active source's status, or STATUS_NOT_CONNECTED without one.
    static void Query(CWatchguard* pWatchguard, unsigned short* status);

private:
    // The watchguard with its drive sources, its notifications aimed at
    // the calling thread as FlatNotifyMessage; null if it did not start.
    static CWatchguard* Start();
    // Takes the calling thread's messages until a card is announced (its
    // source is then activated), the wait is asked to end (the watchguard's
    // thread is then told to end), or WM_QUIT arrives.
    static WaitEnd WaitForCard(CWatchguard* pWatchguard, const CFlatWait& wait);
    static bool OnMedia(CWatchguard* pWatchguard, WPARAM state, CSectorix* pSource);
    static bool Holds(CWatchguard* pWatchguard, CSectorix* pSource);
    static bool Activate(CWatchguard* pWatchguard, CSectorix* pSource);
    static void DropStaleNotifications();
    static void PrintMediaText(CSectorix* pSource);
};

}
