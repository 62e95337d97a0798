#pragma once

// The flat stdcall entries are exported under their decorated names, as a
// host written for the telemetry library's flat interface resolves them:
//     auto pfn = reinterpret_cast<PFN_InitWatchguard>(GetProcAddress(hSectorix, "_InitWatchguard@0"));
#include "Sectorix/SectorixFlat.h"
