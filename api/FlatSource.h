#pragma once

#include "Sectorix/Watchguard.h"
#include "watchguard/Globals.h"

namespace Sectorix
{

// The watchguard's active source, which the flat functions read and
// command; null without a watchguard or without an active source.
inline CSectorix* FlatActiveSource()
{
    CWatchguard* pWatchguard = g_pWatchguard;
    return pWatchguard ? pWatchguard->GetActiveSectorix() : nullptr;
}

}
