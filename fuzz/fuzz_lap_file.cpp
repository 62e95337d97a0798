// Lap files as they come over the radio link: opened, their header
// inflated, and their sectors read in order, in descending order and in an
// order drawn from the input. The lap lies in a block of exactly its size,
// so a read past it faults. Property: every request that succeeds in two
// orders gives the same bytes.
#include "telemetry/LapImage.h"

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
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<unsigned char[]> file(new unsigned char[size]);
    std::memcpy(file.get(), data, size);
    CLapImage inOrder;
    if (!Prepare(inOrder, file.get(), size))
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
