#include "afx/WinThread.h"

#include <process.h>

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

namespace
{
thread_local CWinThread* t_pThread = nullptr;

const DWORD ModuleOfAddress = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
const DWORD ModuleOfAddressUncounted =
    GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;

// The module that holds the thread code: a reference to it is what keeps
// the code in memory after the host has let the library go.
HMODULE ThreadCodeModule(DWORD flags)
{
    HMODULE hModule = nullptr;
    ::GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&ThreadCodeModule), &hModule);
    return hModule;
}
}

CWinThread::CWinThread() = default;

CWinThread::CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam)
    : m_pThreadParams(pParam)
    , m_pfnThreadProc(pfnThreadProc)
{
}

CWinThread::~CWinThread()
{
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

// The thread always starts suspended so that the handle and id are stored
// before it can run (and, with automatic deletion, delete this object).
// It holds a reference to the library from before it exists until it has
// ended: a host that unloads the library while the thread runs leaves it
// in memory until then.
BOOL CWinThread::CreateThread(DWORD dwCreateFlags, UINT nStackSize, LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    HMODULE hModule = ThreadCodeModule(ModuleOfAddress);
    unsigned nThreadID = 0;
    uintptr_t hThread = ::_beginthreadex(lpSecurityAttrs, nStackSize, &ThreadEntry, this,
                                         dwCreateFlags | CREATE_SUSPENDED, &nThreadID);
    if (!hThread)
    {
        ::FreeLibrary(hModule);
        return FALSE;
    }
    m_hThread = reinterpret_cast<HANDLE>(hThread);
    m_nThreadID = nThreadID;
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        ResumeThread();
    return TRUE;
}

DWORD CWinThread::ResumeThread()
{
    return ::ResumeThread(m_hThread);
}

BOOL CWinThread::SetThreadPriority(int nPriority)
{
    return ::SetThreadPriority(m_hThread, nPriority);
}

BOOL CWinThread::InitInstance()
{
    return FALSE;
}

// OnIdle runs whenever the queue is empty. An OnIdle that has nothing more
// to do returns FALSE and the loop sleeps until input arrives; a sent
// message wakes the sleep, is handled by PeekMessage, and idling resumes.
int CWinThread::Run()
{
    LONG lIdleCount = 0;
    for (;;)
    {
        if (::PeekMessageW(&m_msgCur, nullptr, 0, 0, PM_REMOVE))
        {
            if (m_msgCur.message == WM_QUIT)
                return ExitInstance();
            DispatchCurrentMessage();
            lIdleCount = 0;
        }
        else if (!OnIdle(lIdleCount++))
        {
            ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        }
    }
}

BOOL CWinThread::PreTranslateMessage(MSG* pMsg)
{
    return pMsg->hwnd == nullptr && DispatchThreadMessage(pMsg);
}

void CWinThread::DispatchCurrentMessage()
{
    if (!PreTranslateMessage(&m_msgCur))
    {
        ::TranslateMessage(&m_msgCur);
        ::DispatchMessageW(&m_msgCur);
    }
}

// The first call of an idle period asks for one more look at the queue
// before the loop sleeps.
BOOL CWinThread::OnIdle(LONG lCount)
{
    return lCount == 0;
}

int CWinThread::ExitInstance()
{
    return static_cast<int>(m_msgCur.wParam);
}

void CWinThread::Delete()
{
    if (m_bAutoDelete)
        delete this;
}

BOOL CWinThread::DispatchThreadMessage(const MSG* pMsg)
{
    const AFX_MSGMAP_ENTRY* pEntry = FindMessageEntry(pMsg->message);
    if (!pEntry)
        return FALSE;
    pEntry->pfn(this, pMsg->wParam, pMsg->lParam);
    return TRUE;
}

unsigned __stdcall CWinThread::ThreadEntry(void* pParam)
{
    CWinThread* pThread = static_cast<CWinThread*>(pParam);
    t_pThread = pThread;
    int nResult;
    if (pThread->m_pfnThreadProc)
        nResult = static_cast<int>(pThread->m_pfnThreadProc(pThread->m_pThreadParams));
    else if (!pThread->InitInstance())
        nResult = pThread->ExitInstance();
    else
        nResult = pThread->Run();
    pThread->Delete();
    ::FreeLibraryAndExitThread(ThreadCodeModule(ModuleOfAddressUncounted), static_cast<DWORD>(nResult));
}

static CWinThread* StartThread(CWinThread* pThread, int nPriority, UINT nStackSize, DWORD dwCreateFlags,
                               LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    if (!pThread->CreateThread(dwCreateFlags | CREATE_SUSPENDED, nStackSize, lpSecurityAttrs))
    {
        delete pThread;
        return nullptr;
    }
    pThread->SetThreadPriority(nPriority);
    if (!(dwCreateFlags & CREATE_SUSPENDED))
        pThread->ResumeThread();
    return pThread;
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags, LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    return StartThread(new CWinThread(pfnThreadProc, pParam), nPriority, nStackSize, dwCreateFlags,
                       lpSecurityAttrs);
}

CWinThread* AfxBeginThread(CRuntimeClass* pThreadClass, int nPriority, UINT nStackSize, DWORD dwCreateFlags,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    CObject* pObject = pThreadClass->CreateObject();
    if (!pObject)
        return nullptr;
    return StartThread(static_cast<CWinThread*>(pObject), nPriority, nStackSize, dwCreateFlags, lpSecurityAttrs);
}

CWinThread* AfxGetThread()
{
    return t_pThread;
}
