#include "telemetry/TelemetryLibrary.h"

#include "afx/ThreadAnsi.h"

namespace Sectorix
{

namespace
{
const wchar_t EntryNameFormat[] = L"_%s@%d";
const wchar_t* const VehicleTexts[2][2] = {
    { L"Verbindung zum Fahrzeug getrennt.", L"Verbindung zum Fahrzeug hergestellt." },
    { L"Disconnected from vehicle.", L"Connection to vehicle established." },
};
}

FARPROC GetDecoratedProcAddress(HMODULE hModule, const wchar_t* name, int argBytes)
{
    if (!hModule)
        return nullptr;
    CString decorated;
    decorated.Format(EntryNameFormat, name, argBytes);
    return ::GetProcAddress(hModule, ToThreadAnsi(decorated).c_str());
}

void PostToTarget(HWND hWnd, DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (hWnd)
        ::PostMessageW(hWnd, message, wParam, lParam);
    else if (threadId)
        ::PostThreadMessageW(threadId, message, wParam, lParam);
}

CString VehicleLinkText(int language, bool connected)
{
    return VehicleTexts[language == 0 ? 0 : 1][connected ? 1 : 0];
}

}
