// A second process that tries to enable one kind of source under its
// machine-wide lock: exit code 0 when it could, 1 when it could not, 2 when
// no watchguard started. Arguments: the kind ("drives", "csm" or
// "telvane"), then for the last two the folder of the stand-in libraries,
// and for the Telvane link its first init string.
#include "Sectorix/Watchguard.h"
#include "api/FlatExports.h"

#include <shellapi.h>

#include <string>

namespace
{
const int Enabled = 0;
const int Refused = 1;
const int NoWatchguard = 2;
const DWORD StopBound = 5000;

bool EnableKind(CWatchguard* pWatchguard, const std::wstring& kind, const wchar_t* first)
{
    if (kind == L"drives")
    {
        bool enabled = pWatchguard->EnableDrives(true);
        pWatchguard->EnableDrives(false);
        return enabled;
    }
    if (kind == L"csm")
    {
        bool enabled = pWatchguard->EnableCSM(true);
        pWatchguard->EnableCSM(false);
        return enabled;
    }
    bool enabled = pWatchguard->EnableTelvane(true, first, nullptr, 0, nullptr, 0);
    pWatchguard->EnableTelvane(false, nullptr, nullptr, 0, nullptr, 0);
    return enabled;
}
}

int main()
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 2 || (argc > 2 && !::SetDllDirectoryW(argv[2])))
        return NoWatchguard;
    CWatchguard* pWatchguard = InitWatchguard();
    if (!pWatchguard)
        return NoWatchguard;
    bool enabled = EnableKind(pWatchguard, argv[1], argc > 3 ? argv[3] : nullptr);
    ::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    ::WaitForSingleObject(pWatchguard->m_hThread, StopBound);
    delete pWatchguard;
    return enabled ? Enabled : Refused;
}
