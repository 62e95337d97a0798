// Lap files as they come over the radio link: opened, their header
// inflated, and their sectors read in order, in descending order and in an
// order drawn from the input. The lap lies in a block of exactly its size,
// so a read past it faults. Properties: every request that succeeds in two
// orders gives the same bytes, and preparing a lap costs memory in
// proportion to what its header really inflates to, not to the sizes its
// list block claims.
#include "telemetry/LapImage.h"

#include <sanitizer/allocator_interface.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
const uint32_t Request = 8;
const uint32_t HeaderSectorsRead = 64;
const uint32_t DataSectorsRead = 256;
const uint32_t SectorSize = CLapImage::SectorSize;
// Two inflation states with their windows, the lap data's scratch and the
// header buffer's first size, with room to spare.
const uint64_t PreparingCost = 256 * 1024;
// A buffer that doubles as it fills holds at most twice what it was given;
// with the copies made while growing, the bytes allocated stay below four
// times that.
const uint64_t HeaderCostFactor = 4;
const size_t ScratchSize = 4096;

// Bytes allocated since the count was last cleared; frees are not
// subtracted, so the count bounds the peak from above.
size_t g_allocated = 0;

void CountAllocation(const volatile void*, size_t size)
{
    g_allocated += size;
}

void IgnoreFree(const volatile void*)
{
}

// What the header stream inflates to before it ends, breaks or runs out of
// input, up to the size the list block gives the header.
uint64_t RealHeaderSize(const unsigned char* file, const _list_block& block)
{
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        return 0;
    stream.next_in = const_cast<unsigned char*>(file + block.HeaderOffset());
    stream.avail_in = block.HeaderPackedSize();
    unsigned char scratch[ScratchSize];
    uint64_t total = 0;
    int status = Z_OK;
    while (status == Z_OK && total < block.HeaderSize())
    {
        stream.next_out = scratch;
        stream.avail_out = ScratchSize;
        status = inflate(&stream, Z_SYNC_FLUSH);
        total += ScratchSize - stream.avail_out;
        if (stream.avail_out != 0)
            break;
    }
    inflateEnd(&stream);
    return std::min<uint64_t>(total, block.HeaderSize());
}

struct SRequest
{
    uint32_t first;
    bool done;
    std::vector<unsigned char> bytes;
};

// The requests that cover the first header sectors and the first data
// sectors, whatever the list block says.
std::vector<SRequest> Requests(const CLapImage& lap)
{
    std::vector<SRequest> requests;
    uint32_t header = std::min(lap.HeaderSectors(), HeaderSectorsRead);
    for (uint32_t first = 0; first < header; first += Request)
        requests.push_back({ first, false, {} });
    uint32_t data = lap.FirstDataSector();
    for (uint32_t first = data; first - data < DataSectorsRead && first >= data; first += Request)
        requests.push_back({ first, false, {} });
    return requests;
}

void Read(CLapImage& lap, SRequest& request)
{
    request.bytes.assign(Request * SectorSize, 0);
    request.done = lap.ReadSectors(request.bytes.data(), request.first, Request);
}

bool Prepare(CLapImage& lap, const unsigned char* file, size_t size)
{
    return lap.Open(file, size) && lap.InflateHeader();
}

// Prepares the lap and traps when that cost more than its real header
// accounts for, whether the lap turned out sound or not.
bool PrepareWithinCost(CLapImage& lap, const unsigned char* file, size_t size)
{
    g_allocated = 0;
    bool opened = lap.Open(file, size);
    bool prepared = opened && lap.InflateHeader();
    size_t allocated = g_allocated;
    if (opened && allocated > HeaderCostFactor * RealHeaderSize(file, lap.ListBlock()) + PreparingCost)
        __builtin_trap();
    return prepared;
}
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<unsigned char[]> file(new unsigned char[size]);
    std::memcpy(file.get(), data, size);
    CLapImage inOrder;
    if (!PrepareWithinCost(inOrder, file.get(), size))
        return 0;
    std::vector<SRequest> sequential = Requests(inOrder);
    for (SRequest& request : sequential)
        Read(inOrder, request);
    uint32_t listed[] = { 0, inOrder.HeaderSectors() ? inOrder.HeaderSectors() - 1 : 0, inOrder.HeaderSectors() };
    std::vector<unsigned char> listBuffer(3 * SectorSize);
    inOrder.ReadSectorList(listBuffer.data(), 3, listed);

    CLapImage otherOrder;
    if (!Prepare(otherOrder, file.get(), size))
        __builtin_trap();
    std::vector<size_t> order(sequential.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = order.size() - 1 - i;
    for (size_t i = 0; i + 1 < order.size() && i < size; ++i)
        std::swap(order[i], order[i + data[i] % (order.size() - i)]);
    for (size_t index : order)
    {
        SRequest again = { sequential[index].first, false, {} };
        Read(otherOrder, again);
        if (again.done && sequential[index].done && again.bytes != sequential[index].bytes)
            __builtin_trap();
    }
    return 0;
}
