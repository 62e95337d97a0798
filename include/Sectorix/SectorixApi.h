#pragma once

#include "Sectorix/SectorixDefs.h"

class CWatchguard;

// The flat stdcall entries are exported under their decorated names, as a
// host written for the telemetry library's flat interface resolves them:
//     auto pfn = reinterpret_cast<PFN_InitWatchguard>(GetProcAddress(hSectorix, "_InitWatchguard@0"));
typedef CWatchguard* (WINAPI* PFN_InitWatchguard)();
typedef CWatchguard* (WINAPI* PFN_GetWatchguard)();
typedef bool (WINAPI* PFN_SetLogFolder)(const wchar_t* folder);
typedef LONG (WINAPI* PFN_DeleteArpEntry)(DWORD address);
