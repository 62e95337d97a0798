#pragma once

#include "Sectorix/SectorixSPI.h"

// The direct serial link to the vehicle's logger, through SpiDirect.dll: a
// connected link is a card, a lost one is none.
class SECTORIX_API CSectorixSPIDirect : public CSectorixSPI
{
    DECLARE_DYNAMIC(CSectorixSPIDirect)
    friend class CWatchguard;

public:
    ~CSectorixSPIDirect() override;

protected:
    explicit CSectorixSPIDirect(CWatchguard* pWatchguard);

    void OnStatusChange(UINT status) override;
};
