#pragma once

#include "Sectorix/Sectorix.h"

// One drive of a CSM OmniDrive/SoftDrive card reader, reached only through
// the CMDLL card library: it reports media coming and going and selects its
// drive in the library, and offers no sector access of its own.
class CSectorixCSM : public CSectorix
{
    DECLARE_DYNAMIC(CSectorixCSM)

public:
    CSectorixCSM(CWatchguard* pWatchguard, DWORD drive);
    ~CSectorixCSM() override;

    bool isFor(DWORD unit) override;
    CString GetMediaText(int language) override;
    const wchar_t* GetCSMDataSourceName() override;
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
    virtual bool isCardInserted();

private:
    DWORD m_dwDrive;
    DWORD m_dwCardSize = 0;
    bool m_bMediaPresent = false;
};
