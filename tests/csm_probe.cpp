// A second process that tries to enable the CSM drives of the stand-in
// CMDLL.DLL: exit code 0 when it could, 1 when it could not, 2 when no
// watchguard started. Argument: the stand-in folder.
#include "Sectorix/Watchguard.h"
#include "api/FlatExports.h"

#include <shellapi.h>

namespace
{
const int Enabled = 0;
const int Refused = 1;
const int NoWatchguard = 2;
const DWORD StopBound = 5000;
}

int main()
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc != 2 || !::SetDllDirectoryW(argv[1]))
        return NoWatchguard;
    CWatchguard* pWatchguard = InitWatchguard();
    if (!pWatchguard)
        return NoWatchguard;
    bool enabled = pWatchguard->EnableCSM(true);
    pWatchguard->EnableCSM(false);
    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(pWatchguard->m_hThread, StopBound);
    delete pWatchguard;
    return enabled ? Enabled : Refused;
}
