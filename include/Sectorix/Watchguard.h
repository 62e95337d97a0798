#pragma once

#include "Sectorix/SectorixDefs.h"
#include "afx/CriticalSection.h"
#include "afx/Event.h"
#include "afx/PtrArray.h"
#include "afx/String.h"
#include "afx/WinThread.h"

#include <functional>
#include <vector>

class CMutex;
class CSectorix;

namespace Sectorix
{
class CWatchguardWnd;
class CFlatStatus;
}

// The library's own user-interface thread: it owns every card source, keeps
// at most one active, polls idle sources for media and tells the host.
class SECTORIX_API CWatchguard : public CWinThread
{
    DECLARE_DYNCREATE(CWatchguard)
    friend class Sectorix::CWatchguardWnd;
    friend class Sectorix::CFlatStatus;

public:
    // Holds one kind of source for this process across the machine: a named
    // mutex taken without waiting, counted per successful Lock.
    class SECTORIX_API CWatchguardMutex
    {
    public:
        CWatchguardMutex() = default;
        ~CWatchguardMutex();

        CWatchguardMutex(const CWatchguardMutex&) = delete;
        CWatchguardMutex& operator=(const CWatchguardMutex&) = delete;

        bool Lock(const wchar_t* name);
        void Unlock();
        bool isEnabled() const { return m_pMutex != nullptr; }
        bool isOwned() const { return m_nLocks > 0; }

    private:
        CMutex* m_pMutex = nullptr;
        int m_nLocks = 0;
    };

    typedef std::function<void(eWatchguardState, CSectorix*)> NotifyCallback;

    ~CWatchguard() override;

    virtual void EnableNotificationMessages(UINT message, NotifyCallback callback);
    virtual void EnableNotificationMessages(DWORD threadId, HWND window, UINT message);
    virtual void Enable(bool enable);
    virtual bool EnableDrives(bool enable);
    virtual bool EnableTelvane(bool enable, const wchar_t* first, const wchar_t* second, DWORD threadId, HWND window,
                               UINT message);
    virtual bool EnableSPIDirect(bool enable, DWORD threadId, HWND window, UINT message);
    virtual bool EnableCSM(bool enable);
    virtual bool EnableImageFile(const wchar_t* path);
    virtual bool EnableRT9ABurst(bool enable, const wchar_t* first, const wchar_t* second, DWORD threadId, HWND window,
                                 UINT message);
    virtual bool ActivateSectorix(CSectorix* pSource, Sectorix::ActivationMode mode);

    void SendNotification(eWatchguardState state, CSectorix* pSource);
    CSectorix* GetSectorix(const wchar_t* name);

    CSectorix* GetActiveSectorix() const { return m_pActive; }
    CSectorix* Find(CRuntimeClass* pClass, DWORD unit);
    bool isValid(CSectorix* pSource);
    void Remove(CSectorix* pSource, bool keep);

    bool IsEnabled() const { return m_bEnabled; }
    CWinThread* GetAlertableThread() const { return m_pAlertableThread; }
    const CWatchguardMutex& LockStateDrive() const { return m_mutexDrive; }
    const CWatchguardMutex& LockStateSPI() const { return m_mutexSPI; }
    const CWatchguardMutex& LockStateCSM() const { return m_mutexCSM; }

    bool TelvaneStartCommunication();
    bool TelvaneEndCommunication();
    bool TelvaneGetError(unsigned short* code, const wchar_t* text);
    // Every thread waiting for burst data of a Telvane source, a removed
    // one included, answers false now; nothing is disabled or deleted.
    void EndWaitForBurstData();

    void EnableLogMessages(DWORD threadId, HWND window, UINT message);
    void SendLogMessage(const wchar_t* text, DWORD code);
    void SetLogFolder(const CString& folder);
    const CString& GetLogFolder() const;

protected:
    CWatchguard();

    virtual void OnWatchTimer();

    void Add(CSectorix* pSource, bool test);
    void OnWmWatchguard(WPARAM wParam, LPARAM lParam);
    void OnWmWatchguardInternal(WPARAM wParam, LPARAM lParam);
    LRESULT OnWmSPI(CRuntimeClass* pClass, WPARAM wParam, LPARAM lParam);
    LRESULT OnWmRT9ABurst(CRuntimeClass* pClass, WPARAM wParam, LPARAM lParam);
    void PostDelayed(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD delay);

    BOOL InitInstance() override;
    int ExitInstance() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnIdle(LONG lCount) override;

    static UINT AlertableThreadMain(void* pParam);

    DECLARE_MESSAGE_MAP()

private:
    // How an enabling of a telemetry link ended: refused (already enabled,
    // held elsewhere, no usable library), started, or registered but not
    // started, which the caller undoes.
    enum LinkStart
    {
        LinkRefused,
        LinkStarted,
        LinkStartFailed
    };

    template <class TSource>
    LinkStart EnableLink(CWatchguardMutex& mutex, const CString& mutexName, UINT statusMessage, const wchar_t* first,
                         const wchar_t* second, DWORD threadId, HWND window, UINT message);
    template <class TSource>
    void DisableLink(CWatchguardMutex& mutex);
    template <class TSource>
    LRESULT RelayStatus(CRuntimeClass* pClass, WPARAM status);
    HANDLE TelvaneSyncObject();
    void OnTelvaneSync(HANDLE hSync);

    void AddPhysicalDrives();
    void AddRemovableDrives();
    void AddDrive(unsigned char unit);
    NotifyCallback GetNotifyCallback();
    void Notify(eWatchguardState state, CSectorix* pSource);
    void PostDueDelayed();

    CCriticalSection m_lock;
    CEvent m_evStop;
    CTypedPtrArray<CPtrArray, CSectorix*> m_sources;
    CTypedPtrArray<CPtrArray, CSectorix*> m_removed;
    std::vector<MSG> m_delayed;
    CEvent m_evWake;
    CSectorix* volatile m_pActive = nullptr;
    Sectorix::CWatchguardWnd* m_pWnd = nullptr;
    volatile bool m_bEnabled = true;
    NotifyCallback m_fnNotify;
    CCriticalSection m_notifyLock;
    volatile UINT m_nNotifyMsg = 0;
    volatile DWORD m_dwLogThread = 0;
    HWND volatile m_hLogWnd = nullptr;
    volatile UINT m_nLogMsg = 0;
    CWatchguardMutex m_mutexDrive;
    CWatchguardMutex m_mutexSPI;
    CWatchguardMutex m_mutexCSM;
    CWatchguardMutex m_mutexTelvane;
    CWatchguardMutex m_mutexRT9ABurst;
    CWinThread* m_pAlertableThread = nullptr;
    // Serialises the enabling and disabling of the telemetry links, which
    // wait for a link's threads without m_lock; taken before m_lock.
    CCriticalSection m_linkLock;
};
