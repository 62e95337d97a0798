#pragma once

#include "Sectorix/SectorixDrive.h"

// A card in a removable drive on systems older than Windows XP, moved by
// the system's virtual device.
class CSectorixWin98 : public CSectorixDrive
{
    DECLARE_DYNAMIC(CSectorixWin98)
public:
    CSectorixWin98(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged);
    ~CSectorixWin98() override;

    bool ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool WriteSectors(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool isOpened() override;
    bool OpenCard() override;
    bool CloseCard() override;

private:
    bool Transfer(DWORD code, BYTE* buffer, DWORD firstSector, UINT count);
    void ReportLastError();

    HANDLE m_hVxD = INVALID_HANDLE_VALUE;
};
