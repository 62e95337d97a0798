#include "FlatCard.h"

#include "Sectorix/SectorixFlat.h"

// A card whose size is unknown reads as empty.
CFlatCard::CFlatCard()
{
    if (!getMCardImageSize64(&m_size))
        m_size = 0;
}

CFlatCard::~CFlatCard()
{
    endDataTransmit();
}

std::wstring CFlatCard::Name() const
{
    return L"the card Sectorix.dll offered";
}

bool CFlatCard::Read(BYTE* buffer, DWORD firstSector, UINT count)
{
    return getSectorDataExA(firstSector, count, buffer) != 0;
}
