#pragma once

#include "Sectorix/Sectorix.h"
#include "Sectorix/Watchguard.h"

#include <atomic>

// A card source whose answers the test chooses and whose calls it counts.
class CTestSource : public CSectorix
{
    DECLARE_DYNAMIC(CTestSource)
public:
    CTestSource(CWatchguard* pWatchguard, DWORD unit, bool hotPlugged = false);
    ~CTestSource() override;

    bool isFor(DWORD unit) override { return unit == m_unit; }
    CString GetMediaText(int) override { return L"Test card"; }
    bool TestMedia(bool) override
    {
        m_dwTestThread = ::GetCurrentThreadId();
        ++m_nTestCalls;
        return m_bMediaAnswer;
    }
    bool Activate() override
    {
        ++m_nActivateCalls;
        return m_bActivateAnswer;
    }
    bool Deactivate() override
    {
        ++m_nDeactivateCalls;
        return m_bDeactivateAnswer;
    }
    unsigned long long GetCardSize() override { return 0; }
    bool ReadSectorsA(BYTE*, DWORD, UINT) override { return false; }
    bool ReadSectorsB(BYTE*, UINT, DWORD*) override { return false; }
    bool WriteSectors(BYTE*, DWORD, UINT) override { return false; }
    bool TelvaneGetStatus(unsigned short*) override { return false; }
    bool TelvaneEndTransmit() override { return false; }
    bool TelvaneRestartMeasurement() override { return false; }
    bool TelvaneSendCommand(unsigned short, BYTE*, unsigned short*, BYTE*) override { return false; }
    bool TelvaneGetPacketSize(UINT*) override { return false; }
    bool TelvaneGetError(unsigned short*, wchar_t*) override { return false; }
    bool TelvaneReloginMemoryCard() override { return false; }
    bool TelvanePutLogbookEntry(DWORD) override { return false; }

    static std::atomic<int> s_nAlive;

    std::atomic<bool> m_bMediaAnswer{ false };
    std::atomic<bool> m_bActivateAnswer{ true };
    std::atomic<bool> m_bDeactivateAnswer{ true };
    std::atomic<int> m_nTestCalls{ 0 };
    std::atomic<int> m_nActivateCalls{ 0 };
    std::atomic<int> m_nDeactivateCalls{ 0 };
    std::atomic<DWORD> m_dwTestThread{ 0 };

private:
    DWORD m_unit;
};

// Reaches the watchguard's protected members the way the library's own
// enabling code does, without widening the exported class.
struct WatchguardAccess : CWatchguard
{
    using CWatchguard::Add;
    using CWatchguard::OnWatchTimer;
    using CWatchguard::PostDelayed;
};

inline void Register(CWatchguard* pWatchguard, CSectorix* pSource, bool test = false)
{
    (pWatchguard->*&WatchguardAccess::Add)(pSource, test);
}
