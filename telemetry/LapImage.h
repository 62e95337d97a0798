#pragma once

// A lap file served as a card. The file, given as a byte range that stays
// valid while it is served, holds a list block, a compressed header and the
// compressed lap data; the card's sectors are
//   0 to H - 1   the inflated header (H whole sectors of it),
//   H to D - 1   zeros,
//   D and above  the inflated lap data, zeros beyond its end,
// with D the list block's first data sector. Nothing outside the range is
// read, whatever the file holds.
#include "telemetry/LapDataStream.h"
#include "telemetry/ListBlock.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class CLapImage
{
public:
    static constexpr uint32_t SectorSize = 512;

    CLapImage();

    // Checks the list block and every offset and size in it against the
    // range and starts the inflation of the lap data.
    bool Open(const unsigned char* data, size_t size);
    // Inflates the header sectors.
    bool InflateHeader();
    // Contiguous sectors from first on.
    bool ReadSectors(unsigned char* buffer, uint32_t first, uint32_t count);
    // Listed sectors, one after another; only header sectors are served.
    bool ReadSectorList(unsigned char* buffer, uint32_t count, const uint32_t* sectors);
    void Close();

    const _list_block& ListBlock() const { return m_listBlock; }
    uint32_t HeaderSectors() const { return m_nHeaderSectors; }
    uint32_t FirstDataSector() const { return m_listBlock.FirstDataSector(); }

private:
    const unsigned char* m_pData;
    _list_block m_listBlock;
    CLapDataStream m_stream;
    std::unique_ptr<unsigned char[]> m_pHeader;
    uint32_t m_nHeaderSectors;
};
