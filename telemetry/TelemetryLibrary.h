#pragma once

#include <windows.h>

#include "afx/String.h"

#include <string>

// What the telemetry libraries (telvane.dll, SpiDirect.dll, RT9Burst.DLL)
// exchange with the library, and the few things their bindings share.

#pragma pack(push, 1)

// Filled by getLastLapSize and GetLogFileSize.
struct _lap_info
{
    DWORD reserved;
    DWORD id;
    BYTE firstLap;
    BYTE secondLap;
    WORD thirdLap;
    DWORD size;
};

// Filled by getTelvaneVersionInfo; only the version number is used.
struct _telvane_version
{
    DWORD version;
    wchar_t product[128];
    wchar_t maker[128];
    wchar_t legalNotice[128];
    wchar_t description[256];
};

#pragma pack(pop)

static_assert(sizeof(_lap_info) == 16, "lap record");
static_assert(sizeof(_telvane_version) == 1284, "version record");

namespace Sectorix
{

// The libraries post these to the watchguard's hidden window, the new link
// status in wParam.
const UINT WM_TELVANE_STATUS = WM_APP + 2;
const UINT WM_SPIDIRECT_STATUS = WM_APP + 3;
const UINT WM_RT9ABURST_STATUS = WM_APP + 4;

// getTelvaneError's code while the vehicle has more to send.
const WORD ERROR_BURST_PENDING = 0xFF17;

// The entry's stdcall name, "_name@bytes", converted through the calling
// thread's ANSI code page; the undecorated name is never tried.
FARPROC GetDecoratedProcAddress(HMODULE hModule, const wchar_t* name, int argBytes);

// Posts to the window when one is set, else to the thread when one is set.
void PostToTarget(HWND hWnd, DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);

// The link texts of the direct and burst-logger sources, by language (0
// German, anything else English) and link state.
CString VehicleLinkText(int language, bool connected);

}
