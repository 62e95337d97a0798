#pragma once

#include "Sectorix/SectorixDrive.h"
#include "Sectorix/ServiceProtocol.h"
#include "afx/CriticalSection.h"
#include "afx/Event.h"

class CWinThread;

enum eDeleteArpEntryResult : LONG
{
    eDeleteArpEntryFailed = -2,
    eDeleteArpEntrySuccess = 0
};

// One receive buffer of the service pipe: the read's OVERLAPPED, its owner
// and room for one message.
struct PIPE_READ_BUFFER
{
    OVERLAPPED overlapped;
    class CSectorixService* pOwner;
    union
    {
        BYTE area[Sectorix::ServiceMessageAreaSize];
        SECTORIX_HEADERS message;
    };
};

// A removable drive whose sectors the privileged card service reads and
// writes for us over its named pipe. Responses arrive on the watchguard's
// alertable thread, so a caller waiting for one needs no thread of its own.
class SECTORIX_API CSectorixService : public CSectorixDrive
{
    DECLARE_DYNAMIC(CSectorixService)
    friend class CSectorixDrive;

public:
    bool ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool WriteSectors(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool isOpened() override;
    bool OpenCard() override;
    bool CloseCard() override;

    static bool IsServiceAvailable();
    static CString ChangeDriveLetter(CString mountPoint, CString newMountPoint);
    static eDeleteArpEntryResult DeleteArpEntry(unsigned long address);

    // The service's protocol version, asked once per process; 0 until then.
    static DWORD s_ServiceVersion;

protected:
    CSectorixService(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged);
    ~CSectorixService() override;

    HANDLE OpenPipe();
    void ClosePipe();
    bool WriteToPipe(SECTORIX_HEADER* pMessage, const wchar_t* operation);
    bool WriteToPipe(void* data, DWORD length, const wchar_t* operation);
    SECTORIX_HEADERS* ReadResponse();
    SECTORIX_HEADERS* ReadResponse(_eServiceCmd expected);
    bool ReadFromPipe(void* buffer, DWORD length);

    static void CALLBACK ReadPipeOverlapped(ULONG_PTR param);
    static void CALLBACK OnReadPipe(DWORD error, DWORD transferred, LPOVERLAPPED pOverlapped);

private:
    class CPipeSource;

    static CWinThread* ReceiverThread();
    void StartRead();
    bool Receive(PIPE_READ_BUFFER* pBuffer, DWORD arrived);
    void Deliver();
    void SignalResponse();
    void ClearResponse();
    void TakeResponse();
    void FailReceive();
    void StopReceiving();
    void WaitForReceiverToStop();
    void SetReadTarget(BYTE* buffer, UINT count);
    unsigned long long ReadRoom();
    bool PipeOpen();
    void BeginExchange();
    CString LastError();
    DWORD CardMessageSize() const;
    void SendCardMessage(_eServiceCmd cmd, const wchar_t* operation);
    void LogPipe(const wchar_t* format, ...);

    bool m_bOpened = false;
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
    CCriticalSection m_csPipe;
    CCriticalSection m_csCommand;
    CEvent m_evResponse;
    CEvent m_evWrite;
    PIPE_READ_BUFFER* m_pCurrent;
    PIPE_READ_BUFFER* m_pNext;
    BYTE* m_pReadTarget = nullptr;
    CString m_strLastError;

    // Bytes the waiting ReadSectorsA still has room for behind m_pReadTarget.
    unsigned long long m_qwReadRoom = 0;
    // Completion event of the receive path's synchronous reads.
    CEvent m_evRead;
    // The alertable thread that receives for the open pipe, and whether a
    // read or the call that starts one is still to come back.
    HANDLE m_hReceiver = nullptr;
    bool m_bReceiving = false;
    // Whether the pipe hands over whole messages.
    bool m_bMessageMode = false;
    // Signals given since the response event was last known to be clear. A
    // wait takes one of them, but another may come before the waiter holds
    // the pipe lock again.
    unsigned m_nSignals = 0;
};
