#include "api/FlatWait.h"

#include "afx/CriticalSection.h"
#include "afx/SingleLock.h"

namespace Sectorix
{

namespace
{
CCriticalSection g_flatWaitLock;
CFlatWait* g_pFlatWait = nullptr;
}

// The thread's queue is made first, so that a wake-up posted to it from
// now on is never refused.
CFlatWait::CFlatWait()
    : m_dwThread(::GetCurrentThreadId())
    , m_evReturned(FALSE, TRUE)
{
    MSG msg;
    ::PeekMessageW(&msg, nullptr, WM_NULL, WM_NULL, PM_NOREMOVE);
    CSingleLock lock(&g_flatWaitLock, TRUE);
    if (g_pFlatWait)
        return;
    g_pFlatWait = this;
    m_bRegistered = true;
}

CFlatWait::~CFlatWait()
{
    if (!m_bRegistered)
        return;
    CSingleLock lock(&g_flatWaitLock, TRUE);
    g_pFlatWait = nullptr;
    m_evReturned.SetEvent();
}

// The flag is what the wait goes by; the empty thread message only wakes a
// thread that sleeps in its queue.
void CFlatWait::AskToEnd()
{
    m_bEnding = true;
    ::PostThreadMessageW(m_dwThread, WM_NULL, 0, 0);
}

bool CFlatWait::Terminate()
{
    CSingleLock lock(&g_flatWaitLock, TRUE);
    if (!g_pFlatWait)
        return false;
    g_pFlatWait->AskToEnd();
    return true;
}

// The call's own event is duplicated under the lock: the call may return,
// and its object go, before the wait for it begins.
bool CFlatWait::TerminateAndWait()
{
    HANDLE hReturned = nullptr;
    {
        CSingleLock lock(&g_flatWaitLock, TRUE);
        if (!g_pFlatWait)
            return true;
        if (g_pFlatWait->m_dwThread == ::GetCurrentThreadId())
            return false;
        g_pFlatWait->AskToEnd();
        HANDLE hProcess = ::GetCurrentProcess();
        if (!::DuplicateHandle(hProcess, g_pFlatWait->m_evReturned, hProcess, &hReturned, SYNCHRONIZE, FALSE, 0))
            return false;
    }
    ::WaitForSingleObject(hReturned, INFINITE);
    ::CloseHandle(hReturned);
    return true;
}

}
