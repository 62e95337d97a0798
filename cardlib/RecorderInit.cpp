#include "cardlib/RecorderInit.h"

#include "cardlib/InitRecords.h"

namespace CardInit
{

namespace
{
// Error numbers the table does not know are failures of the library as such.
const uint32_t UnknownError = 0x20010001;

// By error number, 0 to 24; 23 is a success like 0.
const uint32_t ErrorCodes[] = {
    0x20010000, 0x20010001, 0x2001001C, 0x20010007, 0x20010006, 0x2001000C, 0x20010007, 0x20010007, 0x20010007,
    0x20010007, 0x20010007, 0x20010007, 0x20010007, 0x2001001C, 0x20010007, 0x20010013, 0x20010016, 0x20010007,
    0x20010007, 0x20010016, 0x20010005, 0x20010005, 0x20010007, 0x20010000, 0x20010005,
};

void Append(std::vector<uint8_t>& file, uint16_t type, const uint8_t* data, uint32_t length)
{
    uint8_t header[RecordHeaderSize];
    WriteRecordHeader(header, type, data, length);
    file.insert(file.end(), header, header + RecordHeaderSize);
    file.insert(file.end(), data, data + length);
}
}

bool FindRecorderInit(const uint8_t* data, size_t size, RecorderInit& init)
{
    init = RecorderInit();
    bool haveExtraInfo = false;
    CRecordReader reader(data, size);
    Record record;
    while (reader.Next(record))
    {
        if (record.type == ConfigurationType)
        {
            if (record.length != ConfigurationSize)
                return false;
            init.configuration = record.data;
        }
        else if (record.type == ExtraInfoType)
        {
            init.extraInfo = record.data;
            init.extraInfoLength = record.length;
            haveExtraInfo = true;
        }
    }
    return !reader.IsBroken() && init.configuration && haveExtraInfo;
}

std::vector<uint8_t> MakeRecorderInit(const uint8_t* configuration, const uint8_t* extraInfo,
                                      uint32_t extraInfoLength)
{
    std::vector<uint8_t> file;
    Append(file, ConfigurationType, configuration, ConfigurationSize);
    Append(file, ExtraInfoType, extraInfo, extraInfoLength);
    return file;
}

uint32_t MapRecorderError(uint32_t error)
{
    return error < sizeof(ErrorCodes) / sizeof(ErrorCodes[0]) ? ErrorCodes[error] : UnknownError;
}

}
