// CopyListBlock with any readable source size and any target length: the
// source lies in a block of exactly its readable size and the target in
// one of exactly its length, so a step outside either faults.
#include "telemetry/ListBlock.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    uint16_t targetLength = static_cast<uint16_t>(data[0] | data[1] << 8);
    size_t sourceSize = size - 2;
    std::unique_ptr<uint8_t[]> source(new uint8_t[sourceSize]);
    std::memcpy(source.get(), data + 2, sourceSize);
    std::unique_ptr<uint8_t[]> target(new uint8_t[targetLength]);
    CopyListBlock(reinterpret_cast<const _list_block*>(source.get()), sourceSize,
                  reinterpret_cast<_list_block*>(target.get()), targetLength);
    return 0;
}
