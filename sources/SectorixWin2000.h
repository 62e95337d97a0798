#pragma once

#include "Sectorix/SectorixDrive.h"
#include "afx/CriticalSection.h"

// A card in a removable drive on Windows XP and later, read below the file
// system: for as long as the card is open its volume is locked and
// dismounted and its whole physical disk opened and locked. Looking for a
// card locks nothing: other programs may have files open on the volume.
class CSectorixWin2000 : public CSectorixDrive
{
    DECLARE_DYNAMIC(CSectorixWin2000)
public:
    CSectorixWin2000(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged);
    ~CSectorixWin2000() override;

    bool ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool WriteSectors(BYTE* buffer, DWORD firstSector, UINT count) override;
    bool isCardInserted() override;
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
    // The volume, locked, while the card is open.
    HANDLE m_hVolume = INVALID_HANDLE_VALUE;
    // Where the device's file pointer stands.
    unsigned long long m_qwPosition = UnknownPosition;

private:
    bool Attach(bool exclusive);
    void Detach(bool unlock);
    bool OpenPhysicalDisk(bool exclusive, CString& errorText, DWORD& errorCode);
    bool TakeVolume(const CString& volumePath, CString& errorText, DWORD& errorCode);
    bool ReadPartitionEnd(const CString& physicalPath, CString& errorText, DWORD& errorCode);
    void ApplyGeometry(const CString& physicalPath, CString& errorText, DWORD& errorCode);
    void ReportShortRead(DWORD bytesRead, DWORD bytes);
    void Tell(const CString& text, DWORD code);
};
