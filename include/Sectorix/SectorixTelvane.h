#pragma once

#include "Sectorix/SectorixListBlock.h"
#include "Sectorix/SectorixSPI.h"
#include "afx/CriticalSection.h"
#include "afx/Event.h"
#include "afx/StringList.h"

#include <vector>

class CLapImage;

// The radio link to the vehicle through telvane.dll. In its ordinary mode
// card reads go to the library; in burst mode a thread of its own fetches
// every lap the vehicle offers into a lap file and the vehicle computer's
// log into BoardPC.log, and the host is served one finished lap after the
// other as the card.
class SECTORIX_API CSectorixTelvane : public CSectorixSPI
{
    DECLARE_DYNAMIC(CSectorixTelvane)
    friend class CWatchguard;

public:
    ~CSectorixTelvane() override;

    void QueueFile(CString path);
    bool EraseFlashcard();
    void CopyListBlock(const _list_block* source, _list_block* target, WORD targetLength);
    // Every thread waiting in WaitForBurstData answers false now.
    void EndBurstWaits();
    DWORD SetCardHasBeenRead(void* card) override;

    bool IsBurstMode() override;
    bool WaitForBurstData() override;
    bool TelvaneGetStatus(unsigned short* status) override;
    _list_block* TelvaneGetListBlock() override;
    bool Activate() override;
    bool Deactivate() override;
    CString GetMediaText(int language) override;
    bool ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool ReadSectorsB(BYTE* buffer, UINT count, DWORD* sectors) override;

protected:
    explicit CSectorixTelvane(CWatchguard* pWatchguard);

    void OnStatusChange(UINT status) override;
    // The watchguard ends the link through the source's own class, so that
    // the burst thread and the waiters are gone before the library ends.
    void EndLink();

    static UINT _BurstDataEntry(LPVOID pSource);
    UINT BurstDataEntry();

    bool PrepareLapFile(CString path);
    bool PrepareHdrFile();

    int m_nProgress = 0;
    unsigned char m_bStep = 0;
    DWORD m_dwStepValue = 0;
    CEvent m_evStop;
    CEvent m_evIdle;
    CEvent m_evQueued;
    CCriticalSection m_csQueue;
    CStringList m_lstQueue;
    CString m_strFolder;
    CString m_strLapFile;
    // The served lap: its inflation state and header sectors, and the
    // whole lap file mapped read-only. The file stays open, shared for
    // reading only, so that no writer changes the bytes under the view.
    CLapImage* m_pLapImage = nullptr;
    const BYTE* m_pView = nullptr;
    HANDLE m_hLapFile = INVALID_HANDLE_VALUE;
    _list_block m_listBlock = {};
    FILETIME m_ftLapFile = {};
    DWORD m_nBoardLogOffset = 0;
    // Guards the burst's start and stop and the waiters; nothing else is
    // taken while it is held.
    CCriticalSection m_csBurst;
    bool m_bStopped = false;
    HANDLE m_hBurstThread = nullptr;
    // One end event per thread in WaitForBurstData; m_evNoWaits is set
    // while there is none.
    std::vector<HANDLE> m_waits;
    CEvent m_evNoWaits;

private:
    void StartBurstThread();
    bool IsStopping() const;
    void PrepareSpiFolder();
    bool FetchLaps(BYTE* buffer);
    bool FetchLap(const _lap_info& info, const CString& path, BYTE* buffer);
    bool ResumeLap(HANDLE hFile, const _lap_info& info, BYTE* buffer, unsigned long long& position);
    bool StoreLapRest(HANDLE hFile, const _lap_info& info, BYTE* buffer, unsigned long long position);
    void FetchBoardLog(BYTE* buffer, bool& success);
    bool IsBurstPending(BYTE* buffer);
    void ReleaseLap();
    bool TakeQueuedFile();
    bool ServeNextLap(HANDLE hEnd);
    bool EnterWait(HANDLE hEnd);
    void LeaveWait(HANDLE hEnd);
    void StopBurst();
    void CloseBurstThread();
};
