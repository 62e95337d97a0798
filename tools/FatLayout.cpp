#include "FatLayout.h"

namespace
{
const size_t BootSectorSize = 512;
const uint16_t BytesPerSector = 512;
const size_t BootSignatureOffset = 510;
const uint16_t BootSignature = 0xAA55;
const size_t BytesPerSectorOffset = 11;
const size_t ReservedSectorsOffset = 14;
const size_t FatCountOffset = 16;
const size_t RootEntriesOffset = 17;
const size_t FatSectorsOffset = 22;
const size_t Fat32SectorsOffset = 36;
const size_t TotalSectorsOffset = 19;
const size_t TotalSectors32Offset = 32;
const uint32_t RootEntrySize = 32;

uint16_t Word(const unsigned char* bytes, size_t offset)
{
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

uint32_t Dword(const unsigned char* bytes, size_t offset)
{
    return Word(bytes, offset) | static_cast<uint32_t>(Word(bytes, offset + 2)) << 16;
}

bool IsFatBootSector(const unsigned char* card, size_t cardSize)
{
    return cardSize >= BootSectorSize && Word(card, BootSignatureOffset) == BootSignature &&
           Word(card, BytesPerSectorOffset) == BytesPerSector;
}
}

uint32_t FatFirstDataSector(const unsigned char* card, size_t cardSize)
{
    if (!IsFatBootSector(card, cardSize))
        return 0;
    uint32_t fatSectors = Word(card, FatSectorsOffset);
    if (fatSectors == 0)
        fatSectors = Dword(card, Fat32SectorsOffset);
    uint32_t rootSectors = (Word(card, RootEntriesOffset) * RootEntrySize + BytesPerSector - 1) / BytesPerSector;
    return Word(card, ReservedSectorsOffset) + card[FatCountOffset] * fatSectors + rootSectors;
}

uint32_t FatTotalSectors(const unsigned char* card, size_t cardSize)
{
    if (!IsFatBootSector(card, cardSize))
        return 0;
    uint32_t sectors = Word(card, TotalSectorsOffset);
    return sectors ? sectors : Dword(card, TotalSectors32Offset);
}
