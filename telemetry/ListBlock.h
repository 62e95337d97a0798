#pragma once

// The list block's checks and conversion; the record itself is public, as
// the Telvane source holds one.
#include "Sectorix/SectorixListBlock.h"

// The lap file code names the record's layout without its namespace.
using Sectorix::ListBlockDataOffsetOffset;
using Sectorix::ListBlockDataPackedSizeOffset;
using Sectorix::ListBlockFirstDataSectorOffset;
using Sectorix::ListBlockHeaderOffsetOffset;
using Sectorix::ListBlockHeaderPackedSizeOffset;
using Sectorix::ListBlockHeaderSizeOffset;
using Sectorix::ListBlockLengthOffset;
using Sectorix::ListBlockSize;
using Sectorix::ListBlockWords;

// The most a deflate stream can grow when inflated: a 258-byte match coded
// in two bits.
const uint64_t MaxInflateRatio = 1032;

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
