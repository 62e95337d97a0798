#include "cardlib/InitRecords.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace CardInit
{

namespace
{
const uint16_t SkippedTypes[] = { 0x0000, 0x0001, 0x0600, 0x0700, 0x0F00, 0x7FFF, 0xFFFF };

uint16_t Word(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t DoubleWord(const uint8_t* at)
{
    return static_cast<uint32_t>(Word(at)) | static_cast<uint32_t>(Word(at + 2)) << 16;
}

void PutWord(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// Records of these types carry no card configuration and are never compared.
bool IsSkippedType(uint16_t type)
{
    return std::find(std::begin(SkippedTypes), std::end(SkippedTypes), type) != std::end(SkippedTypes);
}

bool TypeLess(const Record& left, const Record& right)
{
    return left.type < right.type;
}

// The first record of every type, ordered by type, so that a file of many
// records is searched once instead of once for each record compared.
std::vector<Record> FirstRecordsByType(const uint8_t* data, size_t size)
{
    std::vector<Record> records;
    CRecordReader reader(data, size);
    Record record;
    while (reader.Next(record))
        records.push_back(record);
    std::stable_sort(records.begin(), records.end(), TypeLess);
    records.erase(std::unique(records.begin(), records.end(),
                              [](const Record& left, const Record& right) { return left.type == right.type; }),
                  records.end());
    return records;
}
}

uint16_t Checksum(const uint8_t* data, size_t length)
{
    uint16_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2)
        sum ^= Word(data + i);
    if (i < length)
        sum ^= data[i];
    return sum;
}

CRecordReader::CRecordReader(const uint8_t* data, size_t size)
    : m_pData(data)
    , m_size(size)
{
}

bool CRecordReader::Next(Record& record)
{
    size_t left = m_size - m_offset;
    if (m_bBroken || left == 0)
        return false;
    const uint8_t* header = m_pData + m_offset;
    if (left < RecordHeaderSize || DoubleWord(header + LengthOffset) > left - RecordHeaderSize)
    {
        m_bBroken = true;
        return false;
    }
    record.type = Word(header + TypeOffset);
    record.checksum = Word(header + ChecksumOffset);
    record.length = DoubleWord(header + LengthOffset);
    record.header = header;
    record.data = header + RecordHeaderSize;
    m_offset += RecordHeaderSize + record.length;
    return true;
}

bool IsIntact(const uint8_t* data, size_t size)
{
    CRecordReader reader(data, size);
    Record record;
    while (reader.Next(record))
    {
    }
    return !reader.IsBroken();
}

bool RecordsFoundIn(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize)
{
    if (!IsIntact(a, aSize) || !IsIntact(b, bSize))
        return false;
    std::vector<Record> firstOfB = FirstRecordsByType(b, bSize);
    CRecordReader reader(a, aSize);
    Record record;
    while (reader.Next(record))
    {
        if (IsSkippedType(record.type))
            continue;
        auto other = std::lower_bound(firstOfB.begin(), firstOfB.end(), record, TypeLess);
        if (other == firstOfB.end() || other->type != record.type || other->length != record.length ||
            std::memcmp(record.header, other->header, RecordHeaderSize + record.length) != 0)
            return false;
    }
    return true;
}

void WriteRecordHeader(uint8_t* header, uint16_t type, const uint8_t* data, uint32_t length)
{
    PutWord(header + TypeOffset, type);
    PutWord(header + ChecksumOffset, Checksum(data, length));
    PutWord(header + LengthOffset, static_cast<uint16_t>(length));
    PutWord(header + LengthOffset + 2, static_cast<uint16_t>(length >> 16));
}

}
