#pragma once

#include "Sectorix/Watchguard.h"
#include "afx/Wnd.h"

#include "afx/CriticalSection.h"
#include "afx/Event.h"
#include "afx/SingleLock.h"

#include <gtest/gtest.h>

#include <string>
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

// Runs lock_probe.exe, which lies beside the test, with the arguments given
// (quoted as they must be) and answers its exit code; a probe that does not
// end in time is ended and answers 99.
inline int RunLockProbe(const std::wstring& arguments)
{
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe = path;
    exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"lock_probe.exe";
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return -1;
    DWORD exitCode = STILL_ACTIVE;
    if (::WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process.hProcess, &exitCode);
    else
        ::TerminateProcess(process.hProcess, 99);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

inline HWND CreateMessageWindow()
{
    return ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

}
