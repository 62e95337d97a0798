#pragma once

#include <windows.h>

namespace Sectorix
{

// Registered when the library is loaded; carries media notifications from
// any thread to the watchguard thread.
extern const UINT WM_WATCHGUARD_NOTIFY;

// A drive unit arrived (wParam 0) or went (wParam 1); lParam: the unit in the
// low word, 1 in the high word.
const UINT WM_WATCHGUARD = WM_APP + 1;
// The same, once the arrival has settled.
const UINT WM_WATCHGUARD_INTERNAL = WM_APP + 5;
// Asks the hidden window to compare the DOS device names again.
const UINT WM_ENUM_DOSDEVICES = WM_APP + 6;

const WPARAM UnitArrived = 0;
const WPARAM UnitRemoved = 1;
const WORD UnitMarker = 1;
const unsigned char PhysicalDriveUnit = 0x80;

}
