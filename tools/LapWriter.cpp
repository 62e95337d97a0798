#include "LapWriter.h"

#include "telemetry/ListBlock.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace
{
const size_t SectorSize = 512;

void AppendWords(std::vector<unsigned char>& file, const _list_block& block)
{
    for (uint16_t word : block.words)
    {
        file.push_back(static_cast<unsigned char>(word));
        file.push_back(static_cast<unsigned char>(word >> 8));
    }
}
}

std::vector<unsigned char> Deflate(const unsigned char* bytes, size_t size)
{
    uLongf packedSize = compressBound(static_cast<uLong>(size));
    std::vector<unsigned char> packed(packedSize);
    if (compress2(packed.data(), &packedSize, bytes, static_cast<uLong>(size), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib could not deflate the lap's data");
    packed.resize(packedSize);
    return packed;
}

std::vector<unsigned char> AssembleLapFile(const std::vector<unsigned char>& packedHeader, uint32_t headerSize,
                                           const std::vector<unsigned char>& packedData, uint32_t firstDataSector)
{
    _list_block block = {};
    block.words[0] = ListBlockSize;
    block.SetField(ListBlockFirstDataSectorOffset, firstDataSector);
    block.SetField(ListBlockHeaderOffsetOffset, ListBlockSize);
    block.SetField(ListBlockHeaderSizeOffset, headerSize);
    block.SetField(ListBlockHeaderPackedSizeOffset, static_cast<uint32_t>(packedHeader.size()));
    block.SetField(ListBlockDataOffsetOffset, static_cast<uint32_t>(ListBlockSize + packedHeader.size()));
    block.SetField(ListBlockDataPackedSizeOffset, static_cast<uint32_t>(packedData.size()));
    block.words[ListBlockWords - 1] = ListBlockCheckWord(block.words, ListBlockWords - 1);

    std::vector<unsigned char> file;
    file.reserve(ListBlockSize + packedHeader.size() + packedData.size());
    AppendWords(file, block);
    file.insert(file.end(), packedHeader.begin(), packedHeader.end());
    file.insert(file.end(), packedData.begin(), packedData.end());
    return file;
}

std::vector<unsigned char> MakeLapFile(const unsigned char* card, size_t cardSize, uint32_t headerSectors,
                                       uint32_t firstDataSector)
{
    size_t headerSize = static_cast<size_t>(std::min<uint64_t>(cardSize, uint64_t(headerSectors) * SectorSize));
    size_t dataStart = static_cast<size_t>(std::min<uint64_t>(cardSize, uint64_t(firstDataSector) * SectorSize));
    return AssembleLapFile(Deflate(card, headerSize), static_cast<uint32_t>(headerSize),
                           Deflate(card + dataStart, cardSize - dataStart), firstDataSector);
}
