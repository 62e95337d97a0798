// The watchguard's telemetry links: enabling each kind under its lock,
// relaying the libraries' status changes, and the Telvane library's event.
#include "Sectorix/Watchguard.h"

#include "Sectorix/SectorixRT9ABurst.h"
#include "Sectorix/SectorixSPIDirect.h"
#include "Sectorix/SectorixTelvane.h"
#include "afx/SingleLock.h"
#include "sources/DeviceApi.h"
#include "telemetry/TelemetryLibrary.h"
#include "watchguard/WatchguardWnd.h"

#include <new>

using namespace Sectorix;

namespace
{
const wchar_t MutexNameFormat[] = L"%s%s";
const wchar_t TelvaneMutexPrefix[] = L"Global\\CWatchguard::EnableTelvane::Mutex::";
const wchar_t SPIDirectMutexName[] = L"Global\\CWatchguard::EnableSPIDirect::Mutex";
const wchar_t RT9ABurstMutexPrefix[] = L"Global\\CWatchguard::EnableRT9ABurst::Mutex::";

CString LinkMutexName(const wchar_t* prefix, const wchar_t* first)
{
    CString name;
    name.Format(MutexNameFormat, prefix, first);
    return name;
}
}

// A kind already enabled is only re-targeted; its link is not touched.
template <class TSource>
CWatchguard::LinkStart CWatchguard::EnableLink(CWatchguardMutex& mutex, const CString& mutexName,
                                               UINT statusMessage, const wchar_t* first, const wchar_t* second,
                                               DWORD threadId, HWND window, UINT message)
{
    if (TSource* pExisting = static_cast<TSource*>(Find(RUNTIME_CLASS(TSource), 0)))
    {
        pExisting->EnableNotificationMessages(threadId, window, message);
        return LinkRefused;
    }
    if (!mutex.Lock(mutexName))
        return LinkRefused;
    TSource* pSource = new (std::nothrow) TSource(this);
    if (!pSource || !pSource->isValid())
    {
        delete pSource;
        mutex.Unlock();
        return LinkRefused;
    }
    m_sources.Add(pSource);
    pSource->EnableNotificationMessages(threadId, window, message);
    pSource->EnableStatusMessages(m_pWnd ? m_pWnd->GetSafeHwnd() : nullptr, statusMessage);
    return pSource->StartLink(first, second) ? LinkStarted : LinkStartFailed;
}

// The source leaves the registry first, so that no status change reaches
// it any more; its link then ends without m_lock, as the threads it waits
// for may need that lock on their way out.
template <class TSource>
void CWatchguard::DisableLink(CWatchguardMutex& mutex)
{
    TSource* pSource;
    {
        CSingleLock lock(&m_lock, TRUE);
        pSource = static_cast<TSource*>(Find(RUNTIME_CLASS(TSource), 0));
        if (pSource)
            Remove(pSource, true);
    }
    if (pSource)
        pSource->EndLink();
    CSingleLock lock(&m_lock, TRUE);
    mutex.Unlock();
}

// True only when a new link was started.
bool CWatchguard::EnableTelvane(bool enable, const wchar_t* first, const wchar_t* second, DWORD threadId,
                                HWND window, UINT message)
{
    CSingleLock linkLock(&m_linkLock, TRUE);
    if (!enable)
    {
        DisableLink<CSectorixTelvane>(m_mutexTelvane);
        m_evWake.SetEvent();
        return false;
    }
    CSingleLock lock(&m_lock, TRUE);
    LinkStart start = EnableLink<CSectorixTelvane>(m_mutexTelvane, LinkMutexName(TelvaneMutexPrefix, first),
                                                   WM_TELVANE_STATUS, first, second, threadId, window, message);
    lock.Unlock();
    m_evWake.SetEvent();
    if (start == LinkStartFailed)
        EnableTelvane(false, nullptr, nullptr, 0, nullptr, 0);
    return start == LinkStarted;
}

// The direct link needs Windows XP or later, whatever is enabled already.
bool CWatchguard::EnableSPIDirect(bool enable, DWORD threadId, HWND window, UINT message)
{
    if (enable && !IsWindowsXPOrLater())
        return false;
    CSingleLock linkLock(&m_linkLock, TRUE);
    if (!enable)
    {
        DisableLink<CSectorixSPIDirect>(m_mutexSPI);
        return false;
    }
    CSingleLock lock(&m_lock, TRUE);
    LinkStart start = EnableLink<CSectorixSPIDirect>(m_mutexSPI, SPIDirectMutexName, WM_SPIDIRECT_STATUS, nullptr,
                                                     nullptr, threadId, window, message);
    lock.Unlock();
    if (start == LinkStartFailed)
        EnableSPIDirect(false, 0, nullptr, 0);
    return start == LinkStarted;
}

bool CWatchguard::EnableRT9ABurst(bool enable, const wchar_t* first, const wchar_t* second, DWORD threadId,
                                  HWND window, UINT message)
{
    CSingleLock linkLock(&m_linkLock, TRUE);
    if (!enable)
    {
        DisableLink<CSectorixRT9ABurst>(m_mutexRT9ABurst);
        return false;
    }
    CSingleLock lock(&m_lock, TRUE);
    LinkStart start = EnableLink<CSectorixRT9ABurst>(m_mutexRT9ABurst, LinkMutexName(RT9ABurstMutexPrefix, first),
                                                     WM_RT9ABURST_STATUS, first, second, threadId, window, message);
    lock.Unlock();
    if (start == LinkStartFailed)
        EnableRT9ABurst(false, nullptr, nullptr, 0, nullptr, 0);
    return start == LinkStarted;
}

void CWatchguard::EndWaitForBurstData()
{
    CSingleLock lock(&m_lock, TRUE);
    for (const auto* pList : { &m_sources, &m_removed })
    {
        for (INT_PTR i = 0; i < pList->GetSize(); ++i)
        {
            if ((*pList)[i]->IsKindOf(RUNTIME_CLASS(CSectorixTelvane)))
                static_cast<CSectorixTelvane*>((*pList)[i])->EndBurstWaits();
        }
    }
}

template <class TSource>
LRESULT CWatchguard::RelayStatus(CRuntimeClass* pClass, WPARAM status)
{
    CSingleLock lock(&m_lock, TRUE);
    if (TSource* pSource = static_cast<TSource*>(Find(pClass, 0)))
        pSource->OnStatusChange(static_cast<UINT>(status));
    return 0;
}

LRESULT CWatchguard::OnWmSPI(CRuntimeClass* pClass, WPARAM wParam, LPARAM)
{
    return RelayStatus<CSectorixSPI>(pClass, wParam);
}

LRESULT CWatchguard::OnWmRT9ABurst(CRuntimeClass* pClass, WPARAM wParam, LPARAM)
{
    return RelayStatus<CSectorixRT9ABurst>(pClass, wParam);
}

// A Telvane library that cannot post its status changes signals them
// with its event object instead.
HANDLE CWatchguard::TelvaneSyncObject()
{
    CSingleLock lock(&m_lock, TRUE);
    auto* pSource = static_cast<CSectorixTelvane*>(Find(RUNTIME_CLASS(CSectorixTelvane), 0));
    return pSource && !pSource->HasNotifyEntry() ? pSource->GetSyncObject() : nullptr;
}

// The library's event is reset before its status is read: one signal is
// handled once, however the library resets its event, and a change
// signalled meanwhile is read all the same. A signal is a change whatever
// the status query answers; a library that stores nothing is not connected.
// A handle that is no longer the event of the registered link is left
// alone: its library may have closed it, and its value name another object.
void CWatchguard::OnTelvaneSync(HANDLE hSync)
{
    CSingleLock lock(&m_lock, TRUE);
    if (TelvaneSyncObject() != hSync)
        return;
    ::ResetEvent(hSync);
    auto* pSource = static_cast<CSectorixTelvane*>(Find(RUNTIME_CLASS(CSectorixTelvane), 0));
    unsigned short status = STATUS_NOT_CONNECTED;
    pSource->GetLibraryStatus(&status);
    pSource->OnStatusChange(status);
}
