#pragma once

#include <windows.h>

class CWatchguard;

// The one watchguard of the process, null until InitWatchguard succeeds.
extern CWatchguard* volatile g_pWatchguard;

// True until the host first asks for the watchguard: the flat functions then
// act on their own as the telemetry library would.
extern volatile bool g_bFlatMode;
