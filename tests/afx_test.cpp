#include "TestHelpers.h"

#include "afx/Exception.h"
#include "afx/Mutex.h"
#include "afx/String.h"
#include "afx/WinThread.h"
#include "afx/Wnd.h"

#include <atomic>
#include <string>
#include <vector>

using namespace testing_helpers;

namespace
{

const UINT PingMessage = WM_APP + 20;
const UINT StopMessage = WM_APP + 21;
const UINT QueryMessage = WM_APP + 22;

// A user-interface thread that counts its idle calls and takes thread messages through its map.
class CCountingThread : public CWinThread
{
    DECLARE_DYNCREATE(CCountingThread)
public:
    std::atomic<int> m_nIdle{ 0 };
    std::atomic<LPARAM> m_lastPing{ 0 };

protected:
    CCountingThread() { m_bAutoDelete = FALSE; }
    BOOL InitInstance() override { return TRUE; }
    BOOL OnIdle(LONG lCount) override
    {
        ++m_nIdle;
        return CWinThread::OnIdle(lCount);
    }
    int ExitInstance() override { return 42; }
    void OnPing(WPARAM, LPARAM lParam) { m_lastPing = lParam; }
    void OnStop(WPARAM, LPARAM) { ::PostQuitMessage(0); }

    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNCREATE(CCountingThread, CWinThread)
BEGIN_MESSAGE_MAP(CCountingThread, CWinThread)
    ON_THREAD_MESSAGE(PingMessage, OnPing)
    ON_THREAD_MESSAGE(StopMessage, OnStop)
END_MESSAGE_MAP()

class CRecordingWnd : public CWnd
{
public:
    std::vector<UINT> m_handled;
    bool m_bNcDestroyed = false;

protected:
    int OnCreate(LPCREATESTRUCTW lpCreateStruct)
    {
        m_handled.push_back(WM_CREATE);
        return CWnd::OnCreate(lpCreateStruct);
    }
    void OnTimer(UINT_PTR nIDEvent)
    {
        m_handled.push_back(WM_TIMER);
        KillTimer(nIDEvent);
    }
    LRESULT OnQuery(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }
    void PostNcDestroy() override { m_bNcDestroyed = true; }

    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CRecordingWnd, CWnd)
    ON_WM_CREATE()
    ON_WM_TIMER()
    ON_MESSAGE(QueryMessage, OnQuery)
END_MESSAGE_MAP()

UINT ReturnParameter(LPVOID pParam)
{
    return static_cast<UINT>(reinterpret_cast<UINT_PTR>(pParam));
}

}

TEST(String, FormatTakesWideStringsAndGrowsPastItsFirstBuffer)
{
    CString text;
    text.Format(L"%s\t%d\t%c:", L"Sectorix", 42, L'E');
    EXPECT_EQ(L"Sectorix\t42\tE:", text);
    std::wstring longText(1000, L'x');
    text.Format(L"[%s]", longText.c_str());
    EXPECT_EQ(1002, text.GetLength());
    text.Format(L"%I64u", 4294967296ULL * 3);
    EXPECT_EQ(L"12884901888", text);
    CString fromNull(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(fromNull.IsEmpty());
}

TEST(Synchronisation, MutexThatCannotBeCreatedThrowsAResourceException)
{
    try
    {
        CMutex mutex(FALSE, L"Global\\no\\such\\path");
        ADD_FAILURE() << "created";
    }
    catch (CResourceException* pException)
    {
        pException->Delete();
    }
}

TEST(WinThread, WorkerRunsItsFunctionAndKeepsItsObjectWhenAsked)
{
    CWinThread* pThread = AfxBeginThread(&ReturnParameter, reinterpret_cast<LPVOID>(17), THREAD_PRIORITY_NORMAL,
                                         0, CREATE_SUSPENDED);
    ASSERT_NE(nullptr, pThread);
    pThread->m_bAutoDelete = FALSE;
    pThread->ResumeThread();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pThread->m_hThread, WaitBound));
    DWORD exitCode = 0;
    ::GetExitCodeThread(pThread->m_hThread, &exitCode);
    EXPECT_EQ(17u, exitCode);
    delete pThread;
}

TEST(WinThread, MessageLoopDispatchesThreadMessagesIdlesWithoutSpinningAndExits)
{
    auto* pThread = static_cast<CCountingThread*>(AfxBeginThread(RUNTIME_CLASS(CCountingThread)));
    ASSERT_NE(nullptr, pThread);
    DWORD start = ::GetTickCount();
    while (pThread->m_nIdle == 0 && ::GetTickCount() - start < WaitBound)
        ::Sleep(5);
    ASSERT_TRUE(::PostThreadMessageW(pThread->m_nThreadID, PingMessage, 0, 99));
    while (pThread->m_lastPing == 0 && ::GetTickCount() - start < WaitBound)
        ::Sleep(5);
    EXPECT_EQ(99, pThread->m_lastPing);

    int idleBefore = pThread->m_nIdle;
    ::Sleep(300);
    EXPECT_LE(pThread->m_nIdle - idleBefore, 2);

    ASSERT_TRUE(::PostThreadMessageW(pThread->m_nThreadID, StopMessage, 0, 0));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pThread->m_hThread, WaitBound));
    DWORD exitCode = 0;
    ::GetExitCodeThread(pThread->m_hThread, &exitCode);
    EXPECT_EQ(42u, exitCode);
    delete pThread;
}

TEST(Wnd, DialogClassWindowRoutesCreateTimerAndOwnMessagesThroughItsMap)
{
    CRecordingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, L"#32770", L"Map test", 0, RECT{}, nullptr, 0));
    ASSERT_NE(nullptr, wnd.m_hWnd);
    ASSERT_FALSE(wnd.m_handled.empty());
    EXPECT_EQ(static_cast<UINT>(WM_CREATE), wnd.m_handled[0]);
    EXPECT_EQ(7, ::SendMessageW(wnd.m_hWnd, QueryMessage, 3, 4));

    wnd.SetTimer(5, 10, nullptr);
    MSG msg;
    ASSERT_TRUE(WaitForMessage(WM_TIMER, msg));
    ::DispatchMessageW(&msg);
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), wnd.m_handled.back());

    HWND hWnd = wnd.m_hWnd;
    EXPECT_TRUE(wnd.DestroyWindow());
    EXPECT_FALSE(::IsWindow(hWnd));
    EXPECT_EQ(nullptr, wnd.m_hWnd);
    EXPECT_TRUE(wnd.m_bNcDestroyed);
}

