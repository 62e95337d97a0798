#pragma once

#include "CardReader.h"

#include "Sectorix/Watchguard.h"

#include <string>

class CSectorix;

// A source made the active one and its card opened the way a telemetry host
// opens it; closed and deactivated again when the object goes.
class CActiveCard : public CCardReader
{
public:
    // Throws CToolError(ExitFailed) when the source cannot be activated or
    // its card not opened; where names the card in the message.
    CActiveCard(CWatchguard* pWatchguard, CSectorix* pSource, const std::wstring& where);
    ~CActiveCard() override;

    CActiveCard(const CActiveCard&) = delete;
    CActiveCard& operator=(const CActiveCard&) = delete;

    std::wstring Name() const override { return L"the card in " + m_where; }
    unsigned long long Size() const override;
    bool Read(BYTE* buffer, DWORD firstSector, UINT count) override;

private:
    void Open();
    void Close();

    CWatchguard* m_pWatchguard;
    CSectorix* m_pSource;
    std::wstring m_where;
};
