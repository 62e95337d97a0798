// A second process that tries to enable the Telvane link with a first init
// string: exit code 0 when it could, 1 when it could not, 2 when no
// watchguard started. Arguments: the stand-in folder, the string.
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
    if (!argv || argc != 3 || !::SetDllDirectoryW(argv[1]))
        return NoWatchguard;
    CWatchguard* pWatchguard = InitWatchguard();
    if (!pWatchguard)
        return NoWatchguard;
    bool enabled = pWatchguard->EnableTelvane(true, argv[2], nullptr, 0, nullptr, 0);
    pWatchguard->EnableTelvane(false, nullptr, nullptr, 0, nullptr, 0);
    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(pWatchguard->m_hThread, StopBound);
    delete pWatchguard;
    return enabled ? Enabled : Refused;
}
