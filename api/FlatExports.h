#pragma once

#include "Sectorix/SectorixDefs.h"

class CWatchguard;

extern "C"
{
CWatchguard* WINAPI InitWatchguard();
CWatchguard* WINAPI GetWatchguard();
bool WINAPI SetLogFolder(const wchar_t* folder);
}
