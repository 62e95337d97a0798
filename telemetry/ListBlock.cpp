#include "telemetry/ListBlock.h"

#include <algorithm>
#include <cstring>

namespace
{
// A file of this size or less cannot hold a list block.
const size_t MinimumFileSize = 2;
// The record of the older form has no length word: its first word is 0.
const size_t OldFormWords = 39;
const size_t OldFormCheckWord = OldFormWords - 1;

uint16_t ByteWord(const unsigned char* bytes, size_t index)
{
    return static_cast<uint16_t>(bytes[2 * index] | bytes[2 * index + 1] << 8);
}

void SetByteWord(unsigned char* bytes, size_t index, uint16_t value)
{
    bytes[2 * index] = static_cast<unsigned char>(value);
    bytes[2 * index + 1] = static_cast<unsigned char>(value >> 8);
}

uint32_t ByteField(const unsigned char* bytes, size_t offset)
{
    return ByteWord(bytes, offset / 2) | static_cast<uint32_t>(ByteWord(bytes, offset / 2 + 1)) << 16;
}

bool InsideFile(uint32_t offset, uint32_t size, size_t fileSize)
{
    return static_cast<uint64_t>(offset) + size <= fileSize;
}

uint16_t SumOfWords(const unsigned char* bytes, size_t words)
{
    uint16_t sum = 0;
    for (size_t i = 0; i < words; ++i)
        sum = static_cast<uint16_t>(sum + ByteWord(bytes, i));
    return sum;
}
}

uint16_t ListBlockCheckWord(const uint16_t* words, size_t count)
{
    uint16_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<uint16_t>(sum + words[i]);
    return static_cast<uint16_t>(0 - sum);
}

bool IsListBlockValid(const unsigned char* file, size_t fileSize)
{
    if (!file || fileSize <= MinimumFileSize)
        return false;
    size_t length = ByteWord(file, ListBlockLengthOffset / 2);
    if (length % 2 != 0 || length < ListBlockSize || length >= fileSize)
        return false;
    if (SumOfWords(file, length / 2) != 0)
        return false;
    uint32_t headerPacked = ByteField(file, ListBlockHeaderPackedSizeOffset);
    uint32_t dataPacked = ByteField(file, ListBlockDataPackedSizeOffset);
    return InsideFile(ByteField(file, ListBlockHeaderOffsetOffset), headerPacked, fileSize) &&
           InsideFile(ByteField(file, ListBlockDataOffsetOffset), dataPacked, fileSize) &&
           ByteField(file, ListBlockHeaderSizeOffset) <= headerPacked * MaxInflateRatio;
}

// The target is written byte by byte: a host's record may be longer than
// the program's own and need not be aligned.
void CopyListBlock(const _list_block* source, size_t sourceSize, _list_block* target, uint16_t targetLength)
{
    size_t targetWords = targetLength / 2;
    if (targetWords == 0)
        return;
    unsigned char* out = reinterpret_cast<unsigned char*>(target);
    std::fill(out, out + targetWords * 2, static_cast<unsigned char>(0));
    SetByteWord(out, 0, static_cast<uint16_t>(targetWords * 2));
    // A one-word record has room for its length and nothing else.
    if (targetWords == 1)
        return;

    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(source);
    size_t available = sourceSize / 2;
    if (available == 0)
        return;
    size_t sourceWords = ByteWord(bytes, 0) / 2;
    size_t last = targetWords - 1;
    auto copy = [&](size_t from, size_t to, size_t count) {
        count = std::min({ count, available > from ? available - from : 0, targetWords > to ? targetWords - to : 0 });
        std::memcpy(out + 2 * to, bytes + 2 * from, 2 * count);
    };

    if (sourceWords == 0)
    {
        copy(0, 1, OldFormWords);
        copy(OldFormCheckWord, last, 1);
        return;
    }
    sourceWords = std::min(sourceWords, available);
    if (sourceWords < targetWords)
    {
        copy(1, 1, sourceWords >= 2 ? sourceWords - 2 : 0);
        copy(sourceWords - 1, last, 1);
    }
    else if (sourceWords == targetWords)
    {
        copy(1, 1, targetWords - 1);
    }
    else
    {
        copy(1, 1, targetWords - 2);
        SetByteWord(out, last, static_cast<uint16_t>(0 - SumOfWords(out, last)));
    }
}
