#pragma once

// The init file of the CMREC card library: the recorder configuration and
// the extra information, each a record of the init file format. Plain C++
// without Windows, fuzzed natively with the record walk.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace CardInit
{

const uint16_t ConfigurationType = 0x100;
const uint16_t ExtraInfoType = 0x400;
const uint32_t ConfigurationSize = 86;

// Points into the init file it was found in.
struct RecorderInit
{
    const uint8_t* configuration = nullptr;
    const uint8_t* extraInfo = nullptr;
    uint32_t extraInfoLength = 0;
};

// Takes the last configuration and extra information record of an intact
// file; false when the file is broken, a configuration record is not of
// ConfigurationSize bytes, or either record is missing.
bool FindRecorderInit(const uint8_t* data, size_t size, RecorderInit& init);

// The two records, configuration first, as the library's init file holds them.
std::vector<uint8_t> MakeRecorderInit(const uint8_t* configuration, const uint8_t* extraInfo,
                                      uint32_t extraInfoLength);

// The library's error number as a code of the card library code space.
uint32_t MapRecorderError(uint32_t error);

}
