#pragma once

#include "Sectorix/SectorixService.h"

class CWatchguard;

extern "C"
{
CWatchguard* WINAPI InitWatchguard();
CWatchguard* WINAPI GetWatchguard();
bool WINAPI SetLogFolder(const wchar_t* folder);
eDeleteArpEntryResult WINAPI DeleteArpEntry(DWORD address);
}
