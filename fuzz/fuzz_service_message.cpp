// Messages from the card service as the receive path takes them: the input
// is what the pipe delivers, one message after another. Its first byte says
// how much a first read takes (a whole message area, or only the header)
// and which protocol version is assumed. Properties: nothing is written
// past the caller's room for sectors nor read past the input, the target
// moves on by exactly what it lost in room, and a log line has a text.
#include "service/ServiceMessage.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using namespace Sectorix;

namespace
{
const uint32_t Versions[] = { ServiceVersion1000, ServiceVersionLogForwarding, ServiceVersionPhysicalDrives };
const uint32_t SectorsRoom = 16;
const uint32_t SectorBytes = 512;

class CInputSource : public CMessageSource
{
public:
    CInputSource(const uint8_t* data, size_t size) : m_pData(data), m_size(size) {}

    bool Read(uint8_t* target, uint32_t length) override
    {
        if (length > m_size - m_offset)
            return false;
        std::memcpy(target, m_pData + m_offset, length);
        m_offset += length;
        return true;
    }

    // What a first read of up to length bytes takes, as a message-mode pipe
    // would hand it over if the next message were that long.
    uint32_t ReadUpTo(uint8_t* target, uint32_t length)
    {
        uint32_t taken = static_cast<uint32_t>(std::min<size_t>(length, m_size - m_offset));
        std::memcpy(target, m_pData + m_offset, taken);
        m_offset += taken;
        return taken;
    }

    bool AtEnd() const { return m_offset == m_size; }

private:
    const uint8_t* m_pData;
    size_t m_size;
    size_t m_offset = 0;
};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    uint8_t mode = data[0];
    bool wholeArea = mode & 1;
    uint32_t version = Versions[(mode >> 1) % 3];
    CInputSource source(data + 1, size - 1);

    // Exactly the room the caller has, so that a write past it faults.
    std::unique_ptr<uint8_t[]> sectors(new uint8_t[SectorsRoom * SectorBytes]);
    SSectorTarget target = { sectors.get(), SectorsRoom * SectorBytes };
    std::vector<uint8_t> area(ServiceMessageAreaSize);
    while (!source.AtEnd())
    {
        uint32_t arrived = source.ReadUpTo(area.data(), wholeArea ? ServiceMessageAreaSize : 6);
        std::string text;
        uint8_t* before = target.pNext;
        EReceived received = ReceiveMessage(area.data(), arrived, version, source, target, text);
        if (received == eReceivedBroken)
            break;
        if (target.pNext < before || target.pNext > sectors.get() + SectorsRoom * SectorBytes)
            __builtin_trap();
        if (target.room != SectorsRoom * SectorBytes - static_cast<uint64_t>(target.pNext - sectors.get()))
            __builtin_trap();
        if (received == eReceivedLogLine && text.empty())
            __builtin_trap();
    }
    return 0;
}
