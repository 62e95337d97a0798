#include "telemetry/LapImage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace
{
const uint64_t SectorLimit = uint64_t(1) << 32;
// The header buffer starts at this size, or the header's if smaller, and
// doubles while the stream fills it.
const size_t FirstHeaderBuffer = 64 * 1024;

// Whether count sectors from first exist and fit a buffer this process
// can address.
bool RequestFits(uint32_t first, uint32_t count)
{
    return uint64_t(first) + count <= SectorLimit &&
           uint64_t(count) * CLapImage::SectorSize <= std::numeric_limits<size_t>::max();
}
}

CLapImage::CLapImage()
    : m_pData(nullptr)
    , m_listBlock()
    , m_nHeaderSectors(0)
{
}

bool CLapImage::Open(const unsigned char* data, size_t size)
{
    Close();
    if (!IsListBlockValid(data, size))
        return false;
    CopyListBlock(reinterpret_cast<const _list_block*>(data), size, &m_listBlock, ListBlockSize);
    if (!m_stream.Start(data + m_listBlock.DataOffset(), m_listBlock.DataPackedSize()))
    {
        Close();
        return false;
    }
    m_pData = data;
    return true;
}

// The buffer grows with what the stream really gives, up to the declared
// size, so that a size the file merely claims costs no memory. A header
// that ends short of its size is as corrupt as one that does not inflate.
bool CLapImage::InflateHeader()
{
    m_pHeader.reset();
    m_nHeaderSectors = 0;
    if (!m_pData)
        return false;
    uint32_t size = m_listBlock.HeaderSize();
    CInflateStream stream;
    if (!stream.Start(m_pData + m_listBlock.HeaderOffset(), m_listBlock.HeaderPackedSize()))
        return false;
    std::unique_ptr<unsigned char[]> header;
    size_t capacity = 0;
    size_t inflated = 0;
    while (inflated < size)
    {
        size_t grown = std::min<size_t>(size, std::max(capacity * 2, FirstHeaderBuffer));
        std::unique_ptr<unsigned char[]> larger(new (std::nothrow) unsigned char[grown]);
        if (!larger)
            return false;
        std::copy(header.get(), header.get() + inflated, larger.get());
        header = std::move(larger);
        capacity = grown;
        size_t produced = 0;
        CInflateStream::Result result = stream.Inflate(header.get() + inflated, capacity - inflated, produced);
        inflated += produced;
        if (result == CInflateStream::Failed || (result == CInflateStream::Ended && inflated < size))
            return false;
    }
    m_pHeader = std::move(header);
    m_nHeaderSectors = size / SectorSize;
    return true;
}

bool CLapImage::ReadSectors(unsigned char* buffer, uint32_t first, uint32_t count)
{
    if (!m_pData || !RequestFits(first, count))
        return false;
    uint64_t sector = first;
    uint64_t end = uint64_t(first) + count;
    if (sector < m_nHeaderSectors)
    {
        uint64_t served = std::min<uint64_t>(end, m_nHeaderSectors) - sector;
        std::memcpy(buffer, m_pHeader.get() + sector * SectorSize, static_cast<size_t>(served * SectorSize));
        buffer += served * SectorSize;
        sector += served;
    }
    uint64_t firstData = m_listBlock.FirstDataSector();
    if (sector < firstData)
    {
        uint64_t gap = std::min(end, firstData) - sector;
        std::memset(buffer, 0, static_cast<size_t>(gap * SectorSize));
        buffer += gap * SectorSize;
        sector += gap;
    }
    if (sector == end)
        return true;
    uint64_t offset = (sector - firstData) * SectorSize;
    return m_stream.Read(offset, buffer, static_cast<size_t>((end - sector) * SectorSize));
}

bool CLapImage::ReadSectorList(unsigned char* buffer, uint32_t count, const uint32_t* sectors)
{
    if (!m_pData || !RequestFits(0, count))
        return false;
    for (uint32_t i = 0; i < count; ++i)
    {
        if (sectors[i] >= m_nHeaderSectors || !ReadSectors(buffer + size_t(i) * SectorSize, sectors[i], 1))
            return false;
    }
    return true;
}

void CLapImage::Close()
{
    m_stream.Close();
    m_pHeader.reset();
    m_nHeaderSectors = 0;
    m_listBlock = _list_block();
    m_pData = nullptr;
}
