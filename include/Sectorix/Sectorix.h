#pragma once

#include "Sectorix/SectorixDefs.h"
#include "afx/Object.h"
#include "afx/String.h"

class CWatchguard;
struct _list_block;

// A place from which the flash card of a data logger can be read. The
// watchguard creates, registers, polls, activates and deletes sources; the
// host reads and writes sectors through the active one.
class SECTORIX_API CSectorix : public CObject
{
    DECLARE_DYNAMIC(CSectorix)
    friend class CWatchguard;

public:
    virtual bool isFor(DWORD unit) = 0;
    virtual CString GetMediaText(int language) = 0;
    virtual const wchar_t* GetCSMDataSourceName();
    virtual bool TestMedia(bool removed) = 0;
    virtual bool Activate() = 0;
    virtual bool Deactivate();
    virtual CWatchguard* Watchguard();
    virtual eSectorixError InitializeCard(const wchar_t* initFile, bool format, DWORD* libraryCode);
    virtual DWORD SetCardHasBeenRead(void* dataSource);
    virtual unsigned long long GetCardSize() = 0;
    virtual bool ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count) = 0;
    virtual bool ReadSectorsB(BYTE* buffer, UINT count, DWORD* sectors) = 0;
    virtual bool WriteSectors(BYTE* buffer, DWORD firstSector, UINT count) = 0;
    virtual bool TelvaneGetStatus(unsigned short* status) = 0;
    virtual bool TelvaneEndTransmit() = 0;
    virtual bool TelvaneRestartMeasurement() = 0;
    virtual bool TelvaneSendCommand(unsigned short command, BYTE* data, unsigned short* length, BYTE* answer) = 0;
    virtual bool TelvaneGetPacketSize(UINT* size) = 0;
    virtual bool TelvaneGetError(unsigned short* code, wchar_t* text) = 0;
    virtual bool TelvaneReloginMemoryCard() = 0;
    virtual bool TelvanePutLogbookEntry(DWORD entry) = 0;
    virtual _list_block* TelvaneGetListBlock();
    virtual bool IsBurstMode();
    virtual bool WaitForBurstData();

    eSectorixType GetSectorixType() const { return m_eType; }
    bool IsActive() const { return m_bActive; }
    bool IsHotPlugged() const { return m_bHotPlugged; }
    bool isValid() const { return m_dwRemoved == 0; }
    bool FormatCardProgress(DWORD& progress, bool& pastStart, bool cancel);

protected:
    CSectorix(CWatchguard* pWatchguard, eSectorixType type);
    ~CSectorix() override;

    CWatchguard* m_pWatchguard;
    volatile DWORD m_dwRemoved = 0;
    bool m_bActive = false;
    bool m_bHotPlugged = false;
    eSectorixType m_eType;
    volatile bool m_bFormatting = false;
};
