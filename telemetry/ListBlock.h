#pragma once

// The header record of a lap file: little-endian 16-bit words, the first its
// length in bytes, the last a check word that makes the sum of all words 0.
// The program's own copy is 82 bytes; records of other lengths are converted
// with CopyListBlock.
#include <cstddef>
#include <cstdint>

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

// The most a deflate stream can grow when inflated: a 258-byte match coded
// in two bits.
const uint64_t MaxInflateRatio = 1032;

struct _list_block
{
    uint16_t words[ListBlockWords];

    uint16_t Length() const { return words[ListBlockLengthOffset / 2]; }
    uint32_t FirstDataSector() const { return Field(ListBlockFirstDataSectorOffset); }
    uint32_t HeaderOffset() const { return Field(ListBlockHeaderOffsetOffset); }
    uint32_t HeaderSize() const { return Field(ListBlockHeaderSizeOffset); }
    uint32_t HeaderPackedSize() const { return Field(ListBlockHeaderPackedSizeOffset); }
    uint32_t DataOffset() const { return Field(ListBlockDataOffsetOffset); }
    uint32_t DataPackedSize() const { return Field(ListBlockDataPackedSizeOffset); }

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
static_assert(sizeof(_list_block) == ListBlockSize, "the list block is an 82-byte record");

// The check word that makes the sum of the first count words and itself 0.
uint16_t ListBlockCheckWord(const uint16_t* words, size_t count);

// Whether the file starts with a sound list block: an even length word that
// reaches every field read and lies below the file size, a check word that
// holds, both compressed parts inside the file, and a header size that its
// compressed part could inflate to.
bool IsListBlockValid(const unsigned char* file, size_t fileSize);

// Copies a list block into a record of targetLength bytes, converting
// between lengths; sourceSize is how many bytes can be read at source.
// Nothing is read beyond sourceSize or the source's own length, nothing
// written beyond targetLength bytes.
void CopyListBlock(const _list_block* source, size_t sourceSize, _list_block* target, uint16_t targetLength);
