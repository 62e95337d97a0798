#pragma once

// Where a FAT file system's data area starts, read from its boot sector.
#include <cstddef>
#include <cstdint>

// The sector after the reserved sectors, the FATs and the root folder; 0
// when the card does not start with a FAT boot sector of 512-byte sectors.
uint32_t FatFirstDataSector(const unsigned char* card, size_t cardSize);

// The number of sectors the file system covers; 0 when the card does not
// start with a FAT boot sector of 512-byte sectors.
uint32_t FatTotalSectors(const unsigned char* card, size_t cardSize);
