#pragma once

#include "Sectorix/SectorixDrive.h"
#include "afx/CriticalSection.h"

// A card in a removable drive on Windows XP and later, read below the file
// system: the volume is dismounted and its whole physical disk opened and
// locked for as long as the card is open.
class CSectorixWin2000 : public CSectorixDrive
{
    DECLARE_DYNAMIC(CSectorixWin2000)
public:
    CSectorixWin2000(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged);
    ~CSectorixWin2000() override;

    bool ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool WriteSectors(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool isOpened() override;
    bool OpenCard() override;
    bool CloseCard() override;

protected:
    CString VolumeName() const;
    void Report(const wchar_t* format, DWORD code);
    bool SeekSector(DWORD firstSector);
    bool TransferSize(UINT count, DWORD& bytes);

    static const unsigned long long UnknownPosition = ~0ULL;

    CCriticalSection m_csSectors;
    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
    // Where the device's file pointer stands.
    unsigned long long m_qwPosition = UnknownPosition;

private:
    bool OpenPhysicalDisk(CString& errorText, DWORD& errorCode);
    bool ReadPartitionEnd(const CString& physicalPath, CString& errorText, DWORD& errorCode);
    void ApplyGeometry(const CString& physicalPath, CString& errorText, DWORD& errorCode);
    bool LockDisk();
};
