// Card init files as they come from disk and from cards: the input is two
// files, split where its first two bytes say; the next four are also taken
// as an error number of the recorder. Each lies in a block of exactly
// its size, so a read past it faults. Properties: every record the walk
// hands out lies inside its file, a file is intact exactly when the walk
// ends without a break, the recorder's records found in a file are found
// again, byte for byte, in the file made from them, and no error number
// of the recorder maps to success.
#include "cardlib/InitRecords.h"
#include "cardlib/RecorderInit.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{
const uint32_t CardLibrarySuccess = 0x20010000;

struct SFile
{
    std::unique_ptr<uint8_t[]> bytes;
    size_t size;
};

SFile Copy(const uint8_t* data, size_t size)
{
    SFile file = { std::unique_ptr<uint8_t[]>(new uint8_t[size]), size };
    std::memcpy(file.bytes.get(), data, size);
    return file;
}

void Walk(const SFile& file)
{
    CardInit::CRecordReader reader(file.bytes.get(), file.size);
    CardInit::Record record;
    const uint8_t* end = file.bytes.get() + file.size;
    while (reader.Next(record))
    {
        if (record.data < record.header || record.length > static_cast<size_t>(end - record.data))
            __builtin_trap();
        CardInit::Checksum(record.data, record.length);
    }
    if (reader.IsBroken() == CardInit::IsIntact(file.bytes.get(), file.size))
        __builtin_trap();
}

void RoundTrip(const SFile& file)
{
    CardInit::RecorderInit found;
    if (!CardInit::FindRecorderInit(file.bytes.get(), file.size, found))
        return;
    std::vector<uint8_t> made = CardInit::MakeRecorderInit(found.configuration, found.extraInfo, found.extraInfoLength);
    SFile again = Copy(made.data(), made.size());
    CardInit::RecorderInit refound;
    if (!CardInit::FindRecorderInit(again.bytes.get(), again.size, refound) ||
        refound.extraInfoLength != found.extraInfoLength ||
        std::memcmp(refound.configuration, found.configuration, CardInit::ConfigurationSize) != 0 ||
        std::memcmp(refound.extraInfo, found.extraInfo, found.extraInfoLength) != 0)
        __builtin_trap();
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t split = std::min<size_t>(data[0] | data[1] << 8, size - 2);
    SFile a = Copy(data + 2, split);
    SFile b = Copy(data + 2 + split, size - 2 - split);
    Walk(a);
    Walk(b);
    CardInit::RecordsFoundIn(a.bytes.get(), a.size, b.bytes.get(), b.size);
    CardInit::RecordsFoundIn(b.bytes.get(), b.size, a.bytes.get(), a.size);
    RoundTrip(a);
    RoundTrip(b);
    if (size >= 6)
    {
        uint32_t error = data[2] | data[3] << 8 | data[4] << 16 | static_cast<uint32_t>(data[5]) << 24;
        if (error > 24 && CardInit::MapRecorderError(error) == CardLibrarySuccess)
            __builtin_trap();
    }
    return 0;
}
