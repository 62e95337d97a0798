#pragma once

#include "Sectorix/Watchguard.h"
#include "afx/Wnd.h"

#include "afx/CriticalSection.h"
#include "afx/Event.h"
#include "afx/SingleLock.h"

#include <gtest/gtest.h>

#include <vector>

namespace testing_helpers
{

const DWORD WaitBound = 5000;

// Pumps the calling thread's queue until a message of the given number
// arrives or the time runs out.
inline bool WaitForMessage(UINT message, MSG& msg, DWORD timeout = WaitBound)
{
    DWORD start = ::GetTickCount();
    for (;;)
    {
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            if (msg.message == message)
                return true;
            ::DispatchMessageW(&msg);
        }
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeout)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout - elapsed, QS_ALLINPUT);
    }
}

// Ends the watchguard as its owner does: WM_CLOSE to its thread, a bounded
// wait for the thread, then delete.
inline void StopWatchguard(CWatchguard*& pWatchguard)
{
    if (!pWatchguard)
        return;
    ASSERT_TRUE(::PostThreadMessageW(pWatchguard->m_nThreadID, WM_CLOSE, 0, 0));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pWatchguard->m_hThread, WaitBound));
    delete pWatchguard;
    pWatchguard = nullptr;
}

struct Notification
{
    eWatchguardState state;
    CSectorix* source;
    DWORD thread;
};

// Records what the callback receives, on whatever thread it runs.
class NotificationLog
{
public:
    void Add(eWatchguardState state, CSectorix* source)
    {
        CSingleLock lock(&m_lock, TRUE);
        m_seen.push_back({ state, source, ::GetCurrentThreadId() });
        m_evChanged.SetEvent();
    }

    bool WaitForCount(size_t count)
    {
        DWORD start = ::GetTickCount();
        while (Snapshot().size() < count)
        {
            if (::GetTickCount() - start > WaitBound)
                return false;
            ::WaitForSingleObject(m_evChanged, 100);
        }
        return true;
    }

    std::vector<Notification> Snapshot()
    {
        CSingleLock lock(&m_lock, TRUE);
        return m_seen;
    }

    void Clear()
    {
        CSingleLock lock(&m_lock, TRUE);
        m_seen.clear();
    }

    CWatchguard::NotifyCallback Callback()
    {
        return [this](eWatchguardState state, CSectorix* source) { Add(state, source); };
    }

private:
    CCriticalSection m_lock;
    CEvent m_evChanged;
    std::vector<Notification> m_seen;
};

inline HWND CreateMessageWindow()
{
    return ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

}
