#include "Sectorix/SectorixSPIDirect.h"

IMPLEMENT_DYNAMIC(CSectorixSPIDirect, CSectorixSPI)

CSectorixSPIDirect::CSectorixSPIDirect(CWatchguard* pWatchguard)
    : CSectorixSPI(pWatchguard, L"SpiDirect.dll", TypeSPIDirect)
{
}

CSectorixSPIDirect::~CSectorixSPIDirect() = default;

void CSectorixSPIDirect::OnStatusChange(UINT status)
{
    CSectorixSPI::OnStatusChange(status);
    CardInsertRemove(status == Sectorix::STATUS_CONNECTED);
}
