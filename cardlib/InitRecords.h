#pragma once

// Card init files: packed little-endian records, each a type, a checksum and
// a data length followed by the data, the next record directly after it.
// Plain C++ without Windows: the bytes come from disk and from cards, and
// the same code is fuzzed natively.
#include <cstddef>
#include <cstdint>

namespace CardInit
{

const size_t RecordHeaderSize = 8;
const size_t TypeOffset = 0;
const size_t ChecksumOffset = 2;
const size_t LengthOffset = 4;

// One record as it lies in its file; header points at its type field.
struct Record
{
    uint16_t type;
    uint16_t checksum;
    uint32_t length;
    const uint8_t* header;
    const uint8_t* data;
};

// The exclusive-or of the data as 16-bit little-endian words; a last odd
// byte counts as a word whose high byte is 0.
uint16_t Checksum(const uint8_t* data, size_t length);

// Walks the records of a file in memory. A header or data that would run
// past the end stops the walk and marks the file broken.
class CRecordReader
{
public:
    CRecordReader(const uint8_t* data, size_t size);

    // The next record, false at the end of the file or at a broken record.
    bool Next(Record& record);
    bool IsBroken() const { return m_bBroken; }

private:
    const uint8_t* m_pData;
    size_t m_size;
    size_t m_offset = 0;
    bool m_bBroken = false;
};

// True when the records tile the file exactly, none running past its end.
bool IsIntact(const uint8_t* data, size_t size);

// True when every record of A whose type counts is found in B, header and
// data byte for byte, as the first record of that type in B. Both files
// must be intact.
bool RecordsFoundIn(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize);

// Writes a record header for the data into header (RecordHeaderSize bytes).
void WriteRecordHeader(uint8_t* header, uint16_t type, const uint8_t* data, uint32_t length);

}
