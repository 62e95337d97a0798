#include "EntryGate.h"

#include "CardLibStandin.h"
#include "ScopedLock.h"

CEntryGate::CEntryGate()
    : m_hHeld(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_hReleased(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    ::InitializeCriticalSection(&m_lock);
}

CEntryGate::~CEntryGate()
{
    ::CloseHandle(m_hHeld);
    ::CloseHandle(m_hReleased);
    ::DeleteCriticalSection(&m_lock);
}

void CEntryGate::SetAnswer(const wchar_t* entry, DWORD answer)
{
    CScopedLock lock(m_lock);
    m_answers[entry] = answer;
}

void CEntryGate::ClearAnswer(const wchar_t* entry)
{
    CScopedLock lock(m_lock);
    m_answers.erase(entry);
}

void CEntryGate::Hold(const wchar_t* entry, DWORD passing)
{
    CScopedLock lock(m_lock);
    m_held = entry;
    m_passing = passing;
    ::ResetEvent(m_hHeld);
    ::ResetEvent(m_hReleased);
}

bool CEntryGate::WaitHeld(DWORD milliseconds) const
{
    return ::WaitForSingleObject(m_hHeld, milliseconds) == WAIT_OBJECT_0;
}

void CEntryGate::Release() const
{
    ::SetEvent(m_hReleased);
}

void CEntryGate::Reset()
{
    CScopedLock lock(m_lock);
    m_answers.clear();
    m_held.clear();
    ::SetEvent(m_hReleased);
}

bool CEntryGate::Pass(const wchar_t* entry, DWORD& answer)
{
    if (TakeHold(entry))
    {
        ::SetEvent(m_hHeld);
        ::WaitForSingleObject(m_hReleased, CardLibStandin::HoldLimit);
    }
    CScopedLock lock(m_lock);
    auto chosen = m_answers.find(entry);
    if (chosen == m_answers.end())
        return false;
    answer = chosen->second;
    return true;
}

// The held call is the one after those that pass; the hold is then spent.
bool CEntryGate::TakeHold(const wchar_t* entry)
{
    CScopedLock lock(m_lock);
    if (m_held != entry)
        return false;
    if (m_passing > 0)
    {
        --m_passing;
        return false;
    }
    m_held.clear();
    return true;
}
