#pragma once

#include "Sectorix/Sectorix.h"

// The link to a burst-mode logger through RT9Burst.DLL. It reads no card:
// it follows the link's state, answers the host's status requests from it
// and relays the library's status changes to the host.
class SECTORIX_API CSectorixRT9ABurst : public CSectorix
{
    DECLARE_DYNAMIC(CSectorixRT9ABurst)
    friend class CWatchguard;

public:
    ~CSectorixRT9ABurst() override;

    bool isValid() const { return m_bValid; }
    void EnableNotificationMessages(DWORD threadId, HWND hWnd, UINT message);
    void SetSearchInterval(DWORD interval);

    bool isFor(DWORD unit) override;
    CString GetMediaText(int language) override;
    bool TestMedia(bool removed) override;
    bool Activate() override;
    bool Deactivate() override;
    unsigned long long GetCardSize() override;
    bool ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool ReadSectorsB(BYTE* buffer, UINT count, DWORD* sectors) override;
    bool WriteSectors(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool TelvaneGetStatus(unsigned short* status) override;
    bool TelvaneEndTransmit() override;
    bool TelvaneRestartMeasurement() override;
    bool TelvaneSendCommand(unsigned short command, BYTE* data, unsigned short* length, BYTE* answer) override;
    bool TelvaneGetPacketSize(UINT* size) override;
    bool TelvaneGetError(unsigned short* code, wchar_t* text) override;
    bool TelvaneReloginMemoryCard() override;
    bool TelvanePutLogbookEntry(DWORD entry) override;

protected:
    typedef BOOL(WINAPI* PFN_Call)();
    typedef int(WINAPI* PFN_Init)(const char* first);
    typedef BOOL(WINAPI* PFN_EnableNotifyMessage)(HWND hWnd, DWORD reserved, UINT message);
    typedef void(WINAPI* PFN_SetSearchInterval)(DWORD interval);
    typedef void* PFN_Presence;

    explicit CSectorixRT9ABurst(CWatchguard* pWatchguard);

    bool GetProcAddress(const wchar_t* name, int argBytes, void** out);
    void PostNotifyMessage(UINT wParam, LPARAM lParam);

    // Called on the watchguard thread with each new link status.
    virtual void OnStatusChange(UINT status);

    // The link as the watchguard opens and closes it.
    bool StartLink(const wchar_t* first, const wchar_t* second);
    void EndLink();
    bool HasNotifyEntry() const { return m_pfnEnableNotifyMessage != nullptr; }
    void EnableStatusMessages(HWND hWnd, UINT message);

    HMODULE m_hModule = nullptr;
    bool m_bValid : 1;
    bool m_bAnnounced : 1;
    DWORD m_dwNotifyThread = 0;
    HWND m_hNotifyWnd = nullptr;
    UINT m_nNotifyMsg = 0;

    PFN_Init m_pfnInitTelvaneCommunication = nullptr;
    PFN_Call m_pfnStartTelvaneCommunication = nullptr;
    PFN_Call m_pfnEndTelvaneCommunication = nullptr;
    PFN_Call m_pfnDeinitTelvaneCommunication = nullptr;
    PFN_Presence m_pfnGetLastLapSize = nullptr;
    PFN_Presence m_pfnGetLastLapData = nullptr;
    PFN_Presence m_pfnEndLastLapTransmit = nullptr;
    PFN_EnableNotifyMessage m_pfnEnableNotifyMessage = nullptr;
    PFN_Presence m_pfnGetLogFileSize = nullptr;
    PFN_Presence m_pfnGetLogFileData = nullptr;
    PFN_Presence m_pfnEndLogFileTransmit = nullptr;
    PFN_SetSearchInterval m_pfnSetSearchInterval = nullptr;

private:
    template <class TEntry>
    bool Resolve(const wchar_t* name, int argBytes, TEntry& entry);
};
