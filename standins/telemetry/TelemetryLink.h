#pragma once

#include "CallRecord.h"
#include "TelemetryStandin.h"

#include <deque>
#include <vector>

// The record that getLastLapSize and GetLogFileSize fill.
#pragma pack(push, 1)
struct LapInfo
{
    DWORD reserved;
    DWORD id;
    BYTE first;
    BYTE second;
    WORD third;
    DWORD size;
};
#pragma pack(pop)
static_assert(sizeof(LapInfo) == 16, "lap info record");

// The simulated link to the vehicle behind every entry of a stand-in
// library: its status and where it is announced, the card, the laps and
// the board log on offer, and the faults the tests ask for.
class CTelemetryLink
{
public:
    static const WORD StatusConnected = 0xF006;
    static const WORD StatusNotConnected = 0x0F03;
    static const WORD ErrorNone = 0;
    static const WORD ErrorBurstPending = 0xFF17;

    CTelemetryLink();
    ~CTelemetryLink();
    CTelemetryLink(const CTelemetryLink&) = delete;
    CTelemetryLink& operator=(const CTelemetryLink&) = delete;

    CCallRecord& Record() { return m_record; }
    int Control(int op, UINT_PTR value, const void* data);

    int InitResult();
    int Start();
    void EnableNotify(HWND window, UINT message);
    HANDLE SyncObject() const { return m_hSync; }
    WORD Status();
    BYTE Step(DWORD* value);
    WORD Error();

    ULONGLONG CardSize();
    bool ReadSectors(BYTE* buffer, DWORD first, UINT count);
    bool ReadSectorList(BYTE* buffer, UINT count, const DWORD* sectors);
    bool WriteSectors(const BYTE* buffer, DWORD first, UINT count);

    bool LapSize(LapInfo* info);
    bool LapData(DWORD offset, DWORD count, BYTE* buffer);
    void EndLap();
    bool LogSize(LapInfo* info);
    bool LogData(DWORD offset, DWORD count, BYTE* buffer);
    void EndLog();

private:
    struct OfferedLap
    {
        TelemetryStandin::Lap numbers;
        std::vector<BYTE> bytes;
    };

    void SetStatus(WORD status);
    bool OfferLap(const TelemetryStandin::Lap& lap);
    void OfferLapsFromEnvironment();
    bool SetCardImage(const wchar_t* path);
    bool CardHolds(ULONGLONG first, ULONGLONG count) const;
    void Delay();
    bool Fetch(const std::vector<BYTE>& source, DWORD offset, DWORD count, BYTE* buffer);

    CCallRecord m_record;
    CRITICAL_SECTION m_lock;
    HANDLE m_hSync;
    HWND m_hNotifyWnd = nullptr;
    UINT m_nNotifyMsg = 0;
    WORD m_status = StatusNotConnected;
    BYTE m_step = 0;
    int m_initResult = 1;
    int m_startResult = 1;
    bool m_bEnvironmentRead = false;
    std::vector<BYTE> m_card;
    std::deque<OfferedLap> m_laps;
    std::vector<BYTE> m_boardLog;
    bool m_bFaultArmed = false;
    DWORD m_faultOffset = 0;
    bool m_bTransferFailed = false;
    DWORD m_fetchDelay = 0;
};
