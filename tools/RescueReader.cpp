#include "RescueReader.h"

#include "Interruption.h"

#include "Sectorix/SectorixDefs.h"

#include <cstring>

using Sectorix::SectorSize;

CRescueReader::CRescueReader(CCardReader& card)
    : m_card(card)
{
}

// Halving keeps the reads of a good stretch large however near a bad sector
// it lies; the halves go in order, so the bad sectors are found in order.
// A damaged card may take long over each failing read, so a stop is looked
// for before every one.
bool CRescueReader::Read(BYTE* buffer, DWORD firstSector, UINT count)
{
    CInterruption::ThrowIfRequested("the partial copy was removed");
    if (m_card.Read(buffer, firstSector, count))
        return true;
    if (count == 1)
    {
        ReadSingle(buffer, firstSector);
        return true;
    }
    UINT half = count / 2;
    Read(buffer, firstSector, half);
    Read(buffer + static_cast<size_t>(half) * SectorSize, firstSector + half, count - half);
    return true;
}

// Called after the sector's first read failed.
void CRescueReader::ReadSingle(BYTE* buffer, DWORD sector)
{
    for (UINT attempt = 1; attempt < SectorAttempts; ++attempt)
    {
        CInterruption::ThrowIfRequested("the partial copy was removed");
        if (m_card.Read(buffer, sector, 1))
            return;
    }
    std::memset(buffer, 0, SectorSize);
    MarkBad(sector);
}

void CRescueReader::MarkBad(DWORD sector)
{
    ++m_nBadSectors;
    if (!m_badSectors.empty() && m_badSectors.back().last + 1 == sector)
        m_badSectors.back().last = sector;
    else
        m_badSectors.push_back({ sector, sector });
}
