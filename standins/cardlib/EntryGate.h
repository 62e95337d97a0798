#pragma once

#include <windows.h>

#include <map>
#include <string>

// What the tests choose for single entries: an answer in place of the
// entry's work, and one call held until they release it.
class CEntryGate
{
public:
    CEntryGate();
    ~CEntryGate();
    CEntryGate(const CEntryGate&) = delete;
    CEntryGate& operator=(const CEntryGate&) = delete;

    void SetAnswer(const wchar_t* entry, DWORD answer);
    void ClearAnswer(const wchar_t* entry);
    void Hold(const wchar_t* entry, DWORD passing);
    bool WaitHeld(DWORD milliseconds) const;
    void Release() const;
    void Reset();

    // Each entry's way in, after its call is recorded: waits while the
    // call is held, then true with the answer when the tests chose one.
    bool Pass(const wchar_t* entry, DWORD& answer);

private:
    bool TakeHold(const wchar_t* entry);

    CRITICAL_SECTION m_lock;
    std::map<std::wstring, DWORD> m_answers;
    std::wstring m_held;
    DWORD m_passing = 0;
    HANDLE m_hHeld;
    HANDLE m_hReleased;
};
