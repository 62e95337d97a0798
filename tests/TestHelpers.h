#pragma once

#include "Sectorix/Watchguard.h"
#include "afx/Wnd.h"

#include <gtest/gtest.h>

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

inline HWND CreateMessageWindow()
{
    return ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

}
