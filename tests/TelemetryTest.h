#pragma once

#include "CardFiles.h"
#include "TestHelpers.h"

#include "Sectorix/SectorixTelvane.h"
#include "TelemetryStandin.h"

#include <functional>
#include <string>
#include <vector>

// A watchguard with the stand-in telemetry libraries of one variant folder
// on the DLL search path, the stand-in loaded by the test itself so that it
// can be steered, and this thread as the target of every notification.
class TelemetryTest : public ::testing::Test
{
protected:
    // Where the sources post their own messages, and the watchguard its
    // media notifications.
    static const UINT SourceMessage = WM_APP + 50;
    static const UINT WatchguardMessage = WM_APP + 51;

    struct Posted
    {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    void SetUp() override;
    void TearDown() override;

    // The stand-in folder and the library in it that the test steers.
    virtual const wchar_t* Variant() const { return L"full"; }
    virtual const wchar_t* Library() const { return L"telvane.dll"; }

    int Control(int op, UINT_PTR value = 0, const void* data = nullptr) { return m_control(op, value, data); }
    std::wstring Calls() { return TelemetryStandin::Calls(m_control); }
    // Calls recorded by the stand-in that start with the text.
    size_t CountCalls(const wchar_t* call);
    void SetStatus(WORD status) { Control(TelemetryStandin::SetStatus, status); }

    // A first init string no other test process uses.
    std::wstring UniqueName(const wchar_t* purpose) const;
    bool EnableTelvane();
    CSectorixTelvane* Telvane();

    // Takes what is posted to this thread until done() holds or the bound
    // passes; answers done().
    bool PumpUntil(const std::function<bool()>& done, DWORD bound = testing_helpers::WaitBound);
    void PumpFor(DWORD milliseconds) { PumpUntil([] { return false; }, milliseconds); }
    std::vector<Posted> Posts(UINT message, WPARAM wParam) const;
    bool WaitForPosts(UINT message, WPARAM wParam, size_t count = 1);

    std::wstring StandinFolder() const;

    CWatchguard* m_pWatchguard = nullptr;
    std::wstring m_folder;
    HMODULE m_hStandin = nullptr;
    TelemetryStandin::ControlProc m_control = nullptr;
    std::vector<Posted> m_posted;
};

// Reaches the Telvane source's protected members as a test needs them.
struct TelvaneAccess : CSectorixTelvane
{
    using CSectorixTelvane::m_strFolder;
    using CSectorixTelvane::m_evIdle;
    using CSectorixTelvane::m_evNoWaits;
    using CSectorixTelvane::m_pfnGetTelvaneSyncObject;
};
