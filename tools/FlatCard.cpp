#include "FlatCard.h"

#include "Sectorix/SectorixFlat.h"

namespace
{
const wchar_t OfferedCard[] = L"the card Sectorix.dll offered";
}

// A card whose size is unknown reads as empty.
CFlatCard::CFlatCard()
    : m_where(OfferedCard)
{
    if (!getMCardImageSize64(&m_size))
        m_size = 0;
}

CFlatCard::~CFlatCard()
{
    endDataTransmit();
}

bool CFlatCard::Read(BYTE* buffer, DWORD firstSector, UINT count)
{
    return getSectorDataExA(firstSector, count, buffer) != 0;
}
