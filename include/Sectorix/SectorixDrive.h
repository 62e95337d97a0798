#pragma once

#include "Sectorix/Sectorix.h"

// A card in a drive that Windows sees: a removable volume behind a drive
// letter, or a whole physical disk. Subclasses move the sectors; this class
// polls the medium, names it and answers the telemetry-style operations.
class SECTORIX_API CSectorixDrive : public CSectorix
{
    DECLARE_DYNAMIC(CSectorixDrive)
public:
    static CSectorixDrive* Create(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged);
    void Delete();

    unsigned char GetVolume() const { return m_nVolume; }
    CString GetDeviceName() const;

    bool isFor(DWORD unit) override;
    CString GetMediaText(int language) override;
    bool TestMedia(bool removed) override;
    bool Activate() override;
    bool Deactivate() override;
    unsigned long long GetCardSize() override;
    bool ReadSectorsB(BYTE* buffer, UINT count, DWORD* sectors) override;
    bool TelvaneGetStatus(unsigned short* status) override;
    bool TelvaneEndTransmit() override;
    bool TelvaneRestartMeasurement() override;
    bool TelvaneSendCommand(unsigned short command, BYTE* data, unsigned short* length, BYTE* answer) override;
    bool TelvaneGetPacketSize(UINT* size) override;
    bool TelvaneGetError(unsigned short* code, wchar_t* text) override;
    bool TelvaneReloginMemoryCard() override;
    bool TelvanePutLogbookEntry(DWORD entry) override;

    virtual bool isCardInserted();
    virtual bool isOpened() = 0;
    virtual bool OpenCard() = 0;
    virtual bool CloseCard() = 0;

protected:
    CSectorixDrive(CWatchguard* pWatchguard, unsigned char volume, bool hotPlugged);
    ~CSectorixDrive() override;

    static void FormatLastError(CString& out, DWORD error, const wchar_t* format);

    // The type of the drive behind the volume's letter; cards sit in
    // removable and fixed drives only.
    UINT DriveType() const;
    static bool IsCardDriveType(UINT driveType);

    // Card reads run at the lowest priority on the host's threads, which keep
    // it afterwards.
    static void LowerThreadPriority();

    // How many of count sectors from firstSector lie on the card.
    UINT SectorsWithinCard(DWORD firstSector, UINT count) const;

    unsigned char m_nVolume;
    unsigned long long m_qwCardSize = 0;
    bool m_bMediaPresent = false;
    bool m_bTransferOpen = false;
    // Watching was on when a transfer stopped it, so giving up the card
    // turns it on again.
    bool m_bHoldsWatchguard = false;
    CString m_strDeviceName;
};
