#pragma once

#include "Sectorix/Sectorix.h"

struct _lap_info;

// A card reached through a telemetry library loaded at run time: the
// library's entries are bound by their decorated stdcall names, card reads
// are forwarded to them, and the library's status changes are relayed to
// the host and the watchguard. Only the Telvane and direct SPI sources are
// ever created.
class SECTORIX_API CSectorixSPI : public CSectorix
{
    DECLARE_DYNAMIC(CSectorixSPI)
    friend class CWatchguard;

public:
    ~CSectorixSPI() override;

    bool isValid() const { return m_bValid; }
    CString GetDllName() const { return m_strDllName; }
    void EnableNotificationMessages(DWORD threadId, HWND hWnd, UINT message);
    bool RebootBoardPC();

    bool isFor(DWORD unit) override;
    CString GetMediaText(int language) override;
    bool TestMedia(bool removed) override;
    bool Activate() override;
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
    typedef int(WINAPI* PFN_Init0)();
    typedef int(WINAPI* PFN_Init4)(const wchar_t* first);
    typedef int(WINAPI* PFN_Init8)(const wchar_t* first, const wchar_t* second);
    typedef BOOL(WINAPI* PFN_SectorRange)(DWORD firstSector, UINT count, BYTE* buffer);
    typedef BOOL(WINAPI* PFN_SectorList)(UINT count, DWORD* sectors, BYTE* buffer);
    typedef BOOL(WINAPI* PFN_SendCommand)(DWORD command, BYTE* data, unsigned short* length, BYTE* answer);
    typedef BOOL(WINAPI* PFN_GetPacketSize)(UINT* size);
    typedef BOOL(WINAPI* PFN_GetImageSize64)(unsigned long long* size);
    typedef BOOL(WINAPI* PFN_GetVersionInfo)(void* record);
    typedef BOOL(WINAPI* PFN_GetStatus)(unsigned short* status);
    typedef BOOL(WINAPI* PFN_GetSyncObject)(HANDLE* handle);
    typedef BOOL(WINAPI* PFN_EnableNotifyMessage)(HWND hWnd, DWORD reserved, UINT message);
    typedef BOOL(WINAPI* PFN_GetError)(unsigned short* code, wchar_t* text);
    typedef BOOL(WINAPI* PFN_GetStep)(unsigned char* step, DWORD* value);
    typedef BOOL(WINAPI* PFN_GetLapInfo)(_lap_info* info);
    typedef BOOL(WINAPI* PFN_GetLapData)(DWORD offset, DWORD count, BYTE* buffer);
    typedef BOOL(WINAPI* PFN_PutLogbookEntry)(DWORD entry);
    typedef void* PFN_Presence;

    CSectorixSPI(CWatchguard* pWatchguard, const wchar_t* dllName, eSectorixType type);

    bool GetProcAddress(const wchar_t* name, int argBytes, void** out);
    int initTelvaneCommunication(const wchar_t* first, const wchar_t* second);
    void PostNotifyMessage(UINT wParam, LPARAM lParam);
    void CardInsertRemove(bool inserted);

    // Called on the watchguard thread with each new link status.
    virtual void OnStatusChange(UINT status);

    // The link as the watchguard opens and closes it.
    bool StartLink(const wchar_t* first, const wchar_t* second);
    void EndLink();
    bool HasNotifyEntry() const { return m_pfnEnableNotifyMessage != nullptr; }
    void EnableStatusMessages(HWND hWnd, UINT message);
    HANDLE GetSyncObject();
    bool GetLibraryStatus(unsigned short* status);
    bool HasBurstEntries() const { return m_pfnGetTelvaneStep != nullptr; }

    CString m_strDllName;
    HMODULE m_hModule = nullptr;
    bool m_bValid : 1;
    bool m_bAnnounced : 1;
    DWORD m_dwNotifyThread = 0;
    HWND m_hNotifyWnd = nullptr;
    UINT m_nNotifyMsg = 0;

    PFN_Call m_pfnStartTelvaneCommunication = nullptr;
    PFN_Call m_pfnEndTelvaneCommunication = nullptr;
    PFN_Call m_pfnDeinitTelvaneCommunication = nullptr;
    PFN_Init0 m_pfnInitTelvaneCommunication0 = nullptr;
    PFN_Init4 m_pfnInitTelvaneCommunication4 = nullptr;
    PFN_Init8 m_pfnInitTelvaneCommunication8 = nullptr;
    PFN_Presence m_pfnGetSectorData = nullptr;
    PFN_Presence m_pfnGetSectorDataEx = nullptr;
    PFN_SectorRange m_pfnGetSectorDataExA = nullptr;
    PFN_SectorList m_pfnGetSectorDataExB = nullptr;
    PFN_SectorRange m_pfnPutSectorDataExA = nullptr;
    PFN_Call m_pfnRestartMeasurement = nullptr;
    PFN_Call m_pfnEndDataTransmit = nullptr;
    PFN_SendCommand m_pfnSendTelvaneCommand = nullptr;
    PFN_GetPacketSize m_pfnGetTelvanePacketSize = nullptr;
    PFN_Presence m_pfnGetMCardImageSize = nullptr;
    PFN_GetImageSize64 m_pfnGetMCardImageSize64 = nullptr;
    PFN_GetVersionInfo m_pfnGetTelvaneVersionInfo = nullptr;
    PFN_GetStatus m_pfnGetTelvaneStatus = nullptr;
    PFN_GetSyncObject m_pfnGetTelvaneSyncObject = nullptr;
    PFN_EnableNotifyMessage m_pfnEnableNotifyMessage = nullptr;
    PFN_GetError m_pfnGetTelvaneError = nullptr;
    PFN_GetStep m_pfnGetTelvaneStep = nullptr;
    PFN_Presence m_pfnGetCardInitSize = nullptr;
    PFN_Presence m_pfnGetCardInitData = nullptr;
    PFN_Presence m_pfnEndCardInitTransmit = nullptr;
    PFN_GetLapInfo m_pfnGetLastLapSize = nullptr;
    PFN_GetLapData m_pfnGetLastLapData = nullptr;
    PFN_Call m_pfnEndLastLapTransmit = nullptr;
    PFN_Call m_pfnReloginMemoryCard = nullptr;
    PFN_PutLogbookEntry m_pfnPutLogbookEntry = nullptr;
    PFN_Call m_pfnRebootBoardPC = nullptr;
    PFN_GetLapInfo m_pfnGetLogFileSize = nullptr;
    PFN_GetLapData m_pfnGetLogFileData = nullptr;
    PFN_Call m_pfnEndLogFileTransmit = nullptr;

private:
    template <class TEntry>
    bool Resolve(const wchar_t* name, int argBytes, TEntry& entry);
    bool ResolveRequired();
    bool ResolveInit();
    void ResolveBurstGroup();
};
