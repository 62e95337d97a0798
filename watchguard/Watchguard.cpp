#include "Sectorix/Watchguard.h"

#include "Sectorix/CMDLLApi.h"
#include "Sectorix/Sectorix.h"
#include "afx/ModuleState.h"
#include "afx/SingleLock.h"
#include "watchguard/DelayedPosts.h"
#include "watchguard/Globals.h"
#include "watchguard/WatchguardMessages.h"
#include "watchguard/Logbuch.h"
#include "watchguard/WatchguardWnd.h"

#include <cstring>

using namespace Sectorix;

IMPLEMENT_DYNCREATE(CWatchguard, CWinThread)

namespace
{
const wchar_t WindowClass[] = L"#32770";
const wchar_t WindowTitle[] = L"Sectorix Watchguard";
const unsigned short WatchguardErrorCode = 0xFFFE;
const DWORD TelvaneSyncIndex = 1;

// A host that deletes the watchguard while its thread still runs gets the
// stop it skipped, so that the thread never meets a deleted watchguard.
void EndRunningThread(CWinThread* pThread)
{
    if (!pThread->m_hThread || pThread->m_nThreadID == ::GetCurrentThreadId() ||
        ::WaitForSingleObject(pThread->m_hThread, 0) != WAIT_TIMEOUT)
        return;
    if (::PostThreadMessageW(pThread->m_nThreadID, WM_CLOSE, 0, 0))
        ::WaitForSingleObject(pThread->m_hThread, INFINITE);
}
}

namespace Sectorix
{
const UINT WM_WATCHGUARD_NOTIFY = ::RegisterWindowMessageW(L"WM_WATCHGUARD_NOTIFY");
}

CWatchguard::CWatchguard()
    : m_evStop(FALSE, TRUE)
{
    m_bAutoDelete = FALSE;
    m_pAlertableThread = AfxBeginThread(&AlertableThreadMain, static_cast<HANDLE>(m_evStop),
                                        THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (m_pAlertableThread)
    {
        m_pAlertableThread->m_bAutoDelete = FALSE;
        m_pAlertableThread->ResumeThread();
    }
}

// Runs on the owner's thread once the watchguard thread has ended. Sources
// still registered are deleted too, so that nothing outlives the watchguard.
CWatchguard::~CWatchguard()
{
    EndRunningThread(this);
    m_evStop.SetEvent();
    if (m_pAlertableThread)
    {
        ::WaitForSingleObject(m_pAlertableThread->m_hThread, INFINITE);
        delete m_pAlertableThread;
        m_pAlertableThread = nullptr;
    }
    CWatchguard::EnableDrives(false);
    CWatchguard::EnableTelvane(false, nullptr, nullptr, 0, nullptr, 0);
    CWatchguard::EnableSPIDirect(false, 0, nullptr, 0);
    CWatchguard::EnableCSM(false);
    CWatchguard::EnableRT9ABurst(false, nullptr, nullptr, 0, nullptr, 0);
    for (INT_PTR i = 0; i < m_removed.GetSize(); ++i)
        delete m_removed[i];
    m_removed.RemoveAll();
    for (INT_PTR i = 0; i < m_sources.GetSize(); ++i)
        delete m_sources[i];
    m_sources.RemoveAll();
    delete m_pWnd;
    if (g_pWatchguard == this)
        g_pWatchguard = nullptr;
}

BOOL CWatchguard::InitInstance()
{
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    m_pWnd = new CWatchguardWnd(this);
    m_pWnd->CreateEx(0, WindowClass, WindowTitle, 0, RECT{}, nullptr, 0);
    m_pMainWnd = m_pWnd;
    Notify(WatchguardStarted, nullptr);
    return TRUE;
}

// A CMDLL format writes through the active source, which may need the
// alertable thread for its pipe, so the format ends before that thread and
// before any source goes.
int CWatchguard::ExitInstance()
{
    Notify(WatchguardStopped, nullptr);
    if (m_pWnd)
        m_pWnd->DestroyWindow();
    CCSMDLL::StopAsyncFormat(RUNTIME_CLASS(CCMDLLApi));
    m_evStop.SetEvent();
    return CWinThread::ExitInstance();
}

BOOL CWatchguard::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_WATCHGUARD_NOTIFY)
    {
        Notify(static_cast<eWatchguardState>(pMsg->wParam), reinterpret_cast<CSectorix*>(pMsg->lParam));
        return TRUE;
    }
    if (pMsg->message == WM_CLOSE && !pMsg->hwnd)
    {
        ::PostQuitMessage(0);
        return TRUE;
    }
    return CWinThread::PreTranslateMessage(pMsg);
}

// Sleeps until a message arrives, posting delayed messages as they fall due
// and serving the Telvane library's event on the way; the thread never
// polls. The event is looked up on every pass, as a link enabled or
// disabled wakes the wait: the handle of a library that has gone may name
// another object by now. An event that the wait refuses is left out until
// the next idle pass.
BOOL CWatchguard::OnIdle(LONG lCount)
{
    BOOL bResult = CWinThread::OnIdle(lCount);
    bool bSyncRefused = false;
    for (;;)
    {
        HANDLE waitList[] = { m_evWake, bSyncRefused ? nullptr : TelvaneSyncObject() };
        DWORD nHandles = waitList[TelvaneSyncIndex] ? ARRAYSIZE(waitList) : TelvaneSyncIndex;
        DWORD dwTimeout;
        {
            CSingleLock lock(&m_lock, TRUE);
            dwTimeout = DelayedWaitTimeout(m_delayed, ::GetTickCount());
        }
        DWORD dwResult = ::MsgWaitForMultipleObjects(nHandles, waitList, FALSE, dwTimeout, QS_ALLINPUT);
        if (dwResult == WAIT_OBJECT_0 + nHandles)
            return bResult;
        if (dwResult == WAIT_OBJECT_0 || dwResult == WAIT_TIMEOUT)
            PostDueDelayed();
        else if (dwResult == WAIT_OBJECT_0 + TelvaneSyncIndex)
            OnTelvaneSync(waitList[TelvaneSyncIndex]);
        else if (dwResult == WAIT_FAILED)
            bSyncRefused = true;
    }
}

void CWatchguard::PostDelayed(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD delay)
{
    MSG post = { hWnd, message, wParam, lParam, ::GetTickCount() + delay, {} };
    ::GetCursorPos(&post.pt);
    {
        CSingleLock lock(&m_lock, TRUE);
        m_delayed.push_back(post);
    }
    m_evWake.SetEvent();
}

void CWatchguard::PostDueDelayed()
{
    for (;;)
    {
        MSG post;
        {
            CSingleLock lock(&m_lock, TRUE);
            if (!TakeDuePost(m_delayed, ::GetTickCount(), post))
                return;
        }
        if (post.hwnd)
            ::PostMessageW(post.hwnd, post.message, post.wParam, post.lParam);
        else
            ::PostThreadMessageW(m_nThreadID, post.message, post.wParam, post.lParam);
    }
}

UINT CWatchguard::AlertableThreadMain(void* pParam)
{
    while (::WaitForSingleObjectEx(static_cast<HANDLE>(pParam), INFINITE, TRUE) == WAIT_IO_COMPLETION)
        ;
    return 1;
}

void CWatchguard::SendNotification(eWatchguardState state, CSectorix* pSource)
{
    switch (state)
    {
    case WatchguardStopped:
    case WatchguardStarted:
    case StatusTerminate:
        Notify(state, pSource);
        break;
    default:
        if (isValid(pSource))
            ::PostThreadMessageW(m_nThreadID, WM_WATCHGUARD_NOTIFY, state, reinterpret_cast<LPARAM>(pSource));
        break;
    }
}

// The callback is swapped under its own small lock and called on a copy, so
// a host may change it while a notification is being delivered elsewhere.
void CWatchguard::EnableNotificationMessages(UINT message, NotifyCallback callback)
{
    CSingleLock lock(&m_notifyLock, TRUE);
    m_nNotifyMsg = message;
    m_fnNotify = std::move(callback);
}

void CWatchguard::EnableNotificationMessages(DWORD threadId, HWND window, UINT message)
{
    if (window)
    {
        EnableNotificationMessages(message, [this, window](eWatchguardState state, CSectorix* pSource) {
            ::PostMessageW(window, m_nNotifyMsg, state, reinterpret_cast<LPARAM>(pSource));
        });
    }
    else if (threadId)
    {
        EnableNotificationMessages(message, [this, threadId](eWatchguardState state, CSectorix* pSource) {
            ::PostThreadMessageW(threadId, m_nNotifyMsg, state, reinterpret_cast<LPARAM>(pSource));
        });
    }
    else
    {
        EnableNotificationMessages(0, NotifyCallback());
    }
}

CWatchguard::NotifyCallback CWatchguard::GetNotifyCallback()
{
    CSingleLock lock(&m_notifyLock, TRUE);
    return m_fnNotify;
}

void CWatchguard::Notify(eWatchguardState state, CSectorix* pSource)
{
    NotifyCallback callback = GetNotifyCallback();
    if (callback)
        callback(state, pSource);
}

void CWatchguard::Enable(bool enable)
{
    CSingleLock lock(&m_lock, TRUE);
    m_bEnabled = enable;
}

CSectorix* CWatchguard::Find(CRuntimeClass* pClass, DWORD unit)
{
    CSingleLock lock(&m_lock, TRUE);
    for (INT_PTR i = 0; i < m_sources.GetSize(); ++i)
    {
        CSectorix* pSource = m_sources[i];
        if (pSource->IsKindOf(pClass) && pSource->isFor(unit))
            return pSource;
    }
    return nullptr;
}

bool CWatchguard::isValid(CSectorix* pSource)
{
    CSingleLock lock(&m_lock, TRUE);
    if (!pSource)
        return false;
    for (INT_PTR i = 0; i < m_sources.GetSize(); ++i)
    {
        if (m_sources[i] == pSource)
            return true;
    }
    return false;
}

void CWatchguard::Remove(CSectorix* pSource, bool keep)
{
    CSingleLock lock(&m_lock, TRUE);
    for (INT_PTR i = 0; i < m_sources.GetSize(); ++i)
    {
        if (m_sources[i] != pSource)
            continue;
        m_sources.RemoveAt(i);
        if (keep)
        {
            pSource->m_dwRemoved = ::GetTickCount() | 1;
            m_removed.Add(pSource);
        }
        return;
    }
}

void CWatchguard::Add(CSectorix* pSource, bool test)
{
    if (!pSource)
        return;
    CSingleLock lock(&m_lock, TRUE);
    if (test)
        pSource->TestMedia(false);
    m_sources.Add(pSource);
}

bool CWatchguard::ActivateSectorix(CSectorix* pSource, ActivationMode mode)
{
    CSingleLock lock(&m_lock, TRUE);
    switch (mode)
    {
    case SetActive:
        if (pSource)
        {
            if (m_pActive)
                return false;
            m_pActive = pSource;
            pSource->m_bActive = pSource->Activate();
        }
        else if (CSectorix* pActive = m_pActive)
        {
            pActive->m_bActive = false;
            if (!pActive->Deactivate())
                Remove(pActive, true);
            m_pActive = nullptr;
        }
        break;
    case ActivateOnly:
        if (pSource)
            pSource->m_bActive = pSource->Activate();
        break;
    case DeactivateOnly:
        if (pSource)
        {
            pSource->m_bActive = false;
            if (!pSource->Deactivate())
                Remove(pSource, true);
        }
        break;
    }
    return true;
}

void CWatchguard::OnWatchTimer()
{
    CSingleLock lock(&m_lock, TRUE);
    if (m_pActive)
        return;
    for (INT_PTR i = 0; i < m_sources.GetSize(); ++i)
    {
        CSectorix* pSource = m_sources[i];
        if (!pSource->IsActive() && !pSource->IsHotPlugged() && pSource->TestMedia(false))
            break;
    }
}

bool CWatchguard::TelvaneStartCommunication()
{
    return true;
}

bool CWatchguard::TelvaneEndCommunication()
{
    Enable(false);
    return true;
}

bool CWatchguard::TelvaneGetError(unsigned short* code, const wchar_t*)
{
    *code = WatchguardErrorCode;
    return true;
}

void CWatchguard::EnableLogMessages(DWORD threadId, HWND window, UINT message)
{
    m_dwLogThread = threadId;
    m_hLogWnd = window;
    m_nLogMsg = message;
}

// The receiver owns the posted copy and frees it; a copy that reaches nobody
// is freed here.
void CWatchguard::SendLogMessage(const wchar_t* text, DWORD code)
{
    HWND hWnd = m_hLogWnd;
    DWORD threadId = m_dwLogThread;
    UINT message = m_nLogMsg;
    if (!hWnd && !threadId)
        return;
    HGLOBAL hCopy = nullptr;
    if (text)
    {
        size_t nBytes = (wcslen(text) + 1) * sizeof(wchar_t);
        hCopy = ::GlobalAlloc(GPTR, nBytes);
        if (!hCopy)
            return;
        std::memcpy(hCopy, text, nBytes);
    }
    LPARAM lParam = reinterpret_cast<LPARAM>(hCopy);
    BOOL bPosted = hWnd ? ::PostMessageW(hWnd, message, code, lParam)
                        : ::PostThreadMessageW(threadId, message, code, lParam);
    if (!bPosted && hCopy)
        ::GlobalFree(hCopy);
}

void CWatchguard::SetLogFolder(const CString& folder)
{
    DWORD dwAttributes = ::GetFileAttributesW(folder);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        ::CreateDirectoryW(folder, nullptr);
    TLogbuch::Instance().SetFolder(folder);
}

const CString& CWatchguard::GetLogFolder() const
{
    return TLogbuch::Instance().GetFolder();
}
