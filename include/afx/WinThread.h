#pragma once

#include "afx/CmdTarget.h"

class CWnd;

typedef UINT (*AFX_THREADPROC)(LPVOID pParam);

// A thread with an object of its own: either a worker running a thread
// function, or a user-interface thread with InitInstance, a message loop and
// ExitInstance.
class AFX_API CWinThread : public CCmdTarget
{
    DECLARE_DYNAMIC(CWinThread)
public:
    CWinThread();
    CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam);
    ~CWinThread() override;

    BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0,
                      LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
    DWORD ResumeThread();
    BOOL SetThreadPriority(int nPriority);
    CWnd* GetMainWnd() const { return m_pMainWnd; }

    virtual BOOL InitInstance();
    virtual int Run();
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual BOOL OnIdle(LONG lCount);
    virtual int ExitInstance();
    virtual void Delete();

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
    CWnd* volatile m_pMainWnd = nullptr;

protected:
    BOOL DispatchThreadMessage(const MSG* pMsg);
    void DispatchCurrentMessage();

    MSG m_msgCur = {};
    LPVOID m_pThreadParams = nullptr;
    AFX_THREADPROC m_pfnThreadProc = nullptr;

private:
    static unsigned __stdcall ThreadEntry(void* pParam);

};

AFX_API CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                                   int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                                   DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
AFX_API CWinThread* AfxBeginThread(CRuntimeClass* pThreadClass,
                                   int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                                   DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
AFX_API CWinThread* AfxGetThread();
