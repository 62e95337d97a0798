// A second process that tries to enable drive sources: exit code 0 when it
// could, 1 when another process holds them, 2 when no watchguard started.
#include "Sectorix/Watchguard.h"
#include "api/FlatExports.h"

namespace
{
const int Enabled = 0;
const int HeldElsewhere = 1;
const int NoWatchguard = 2;
const DWORD StopBound = 5000;
}

int main()
{
    CWatchguard* pWatchguard = InitWatchguard();
    if (!pWatchguard)
        return NoWatchguard;
    bool enabled = pWatchguard->EnableDrives(true);
    pWatchguard->EnableDrives(false);
    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(pWatchguard->m_hThread, StopBound);
    delete pWatchguard;
    return enabled ? Enabled : HeldElsewhere;
}
