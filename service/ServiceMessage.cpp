#include "service/ServiceMessage.h"

#include <algorithm>
#include <cstring>

namespace Sectorix
{

namespace
{
const uint32_t HeaderSize = sizeof(SECTORIX_HEADER);
const uint64_t SectorBytes = 512;

// Payload bytes that came with the fixed part.
struct SArrived
{
    const uint8_t* pBytes;
    uint32_t length;
};

// First what arrived with the fixed part, then the rest from the source.
bool ReceiveFollowing(uint8_t* target, uint32_t length, const SArrived& extra, CMessageSource& source)
{
    if (extra.length > length)
        return false;
    if (extra.length)
        std::memcpy(target, extra.pBytes, extra.length);
    return length == extra.length || source.Read(target + extra.length, length - extra.length);
}

bool ReceiveText(const SECTORIX_TEXT& message, const SArrived& extra, CMessageSource& source, std::string& text)
{
    if (message.value == 0)
        return false;
    text.assign(message.value, '\0');
    return ReceiveFollowing(reinterpret_cast<uint8_t*>(&text[0]), message.value, extra, source);
}

bool ReceiveSectors(const SECTORIX_SECTORS& sectors, const SArrived& extra, CMessageSource& source,
                    SSectorTarget& target)
{
    uint64_t bytes = sectors.count * SectorBytes;
    if (bytes > target.room)
        return false;
    if (bytes == 0)
        return extra.length == 0;
    if (!ReceiveFollowing(target.pNext, static_cast<uint32_t>(bytes), extra, source))
        return false;
    target.pNext += bytes;
    target.room -= bytes;
    return true;
}
}

uint32_t MinimumMessageSize(_eServiceCmd cmd, uint32_t serviceVersion)
{
    switch (cmd)
    {
    case eServiceCmdError:
    case eServiceCmdLog:
        return sizeof(SECTORIX_TEXT);
    case eServiceCmdReadSectors:
        return sizeof(SECTORIX_SECTORS);
    case eServiceCmdOpenCard:
        return serviceVersion < ServiceVersionPhysicalDrives ? ServiceCardSizeShort : sizeof(SECTORIX_CARD);
    case eServiceCmdGetVersion:
        return sizeof(SECTORIX_VERSION);
    case eServiceCmdDeleteArpEntry:
        return sizeof(SECTORIX_ARP);
    default:
        return HeaderSize;
    }
}

EReceived ReceiveMessage(uint8_t* area, uint32_t arrived, uint32_t serviceVersion, CMessageSource& source,
                         SSectorTarget& target, std::string& text)
{
    if (arrived < HeaderSize && !source.Read(area + arrived, HeaderSize - arrived))
        return eReceivedBroken;
    arrived = std::max(arrived, HeaderSize);
    SECTORIX_HEADERS message;
    std::memcpy(&message, area, HeaderSize);
    uint32_t size = message.header.size;
    if (size < MinimumMessageSize(message.header.cmd, serviceVersion) || size > ServiceMessageAreaSize ||
        arrived > ServiceMessageAreaSize)
        return eReceivedBroken;
    if (arrived < size && !source.Read(area + arrived, size - arrived))
        return eReceivedBroken;
    std::memcpy(&message, area, std::min<size_t>(size, sizeof(message)));
    SArrived extra = { area + size, arrived > size ? arrived - size : 0 };

    switch (message.header.cmd)
    {
    case eServiceCmdError:
        return ReceiveText(message.text, extra, source, text) ? eReceivedResponse : eReceivedBroken;
    case eServiceCmdLog:
        return ReceiveText(message.text, extra, source, text) ? eReceivedLogLine : eReceivedBroken;
    case eServiceCmdReadSectors:
        return ReceiveSectors(message.sectors, extra, source, target) ? eReceivedResponse : eReceivedBroken;
    default:
        return extra.length == 0 ? eReceivedResponse : eReceivedBroken;
    }
}

}
