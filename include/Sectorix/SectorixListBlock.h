#pragma once

// The header record of a lap file: little-endian 16-bit words, the first its
// length in bytes, the last a check word that makes the sum of all words 0.
// The library's own copy is 82 bytes; records of other lengths are converted
// with CopyListBlock. Needs no Windows header, so that the lap file code
// builds and is fuzzed anywhere.
#include <cstddef>
#include <cstdint>

namespace Sectorix
{
const uint16_t ListBlockSize = 82;
const size_t ListBlockWords = ListBlockSize / 2;

// Byte offsets of the fields read; they are the same in records of any
// length that reaches them.
const size_t ListBlockLengthOffset = 0;
const size_t ListBlockFirstDataSectorOffset = 44;
const size_t ListBlockHeaderOffsetOffset = 56;
const size_t ListBlockHeaderSizeOffset = 60;
const size_t ListBlockHeaderPackedSizeOffset = 64;
const size_t ListBlockDataOffsetOffset = 68;
const size_t ListBlockDataPackedSizeOffset = 76;
}

struct _list_block
{
    uint16_t words[Sectorix::ListBlockWords];

    uint16_t Length() const { return words[Sectorix::ListBlockLengthOffset / 2]; }
    uint32_t FirstDataSector() const { return Field(Sectorix::ListBlockFirstDataSectorOffset); }
    uint32_t HeaderOffset() const { return Field(Sectorix::ListBlockHeaderOffsetOffset); }
    uint32_t HeaderSize() const { return Field(Sectorix::ListBlockHeaderSizeOffset); }
    uint32_t HeaderPackedSize() const { return Field(Sectorix::ListBlockHeaderPackedSizeOffset); }
    uint32_t DataOffset() const { return Field(Sectorix::ListBlockDataOffsetOffset); }
    uint32_t DataPackedSize() const { return Field(Sectorix::ListBlockDataPackedSizeOffset); }

    uint32_t Field(size_t offset) const
    {
        return words[offset / 2] | static_cast<uint32_t>(words[offset / 2 + 1]) << 16;
    }
    void SetField(size_t offset, uint32_t value)
    {
        words[offset / 2] = static_cast<uint16_t>(value);
        words[offset / 2 + 1] = static_cast<uint16_t>(value >> 16);
    }
};
static_assert(sizeof(_list_block) == Sectorix::ListBlockSize, "the list block is an 82-byte record");
