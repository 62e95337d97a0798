#include "FuzzAnswers.h"

#include "CardVolume.h"

using namespace Sectorix;

namespace
{
// xorshift32 stays at zero once there.
const DWORD ZeroSeedReplacement = 0x9E3779B9;
const int XorShiftA = 13;
const int XorShiftB = 17;
const int XorShiftC = 5;
const DWORD MaxMessages = 3;
const DWORD ShapeCount = 8;
const DWORD SizeMutationCount = 6;
const DWORD TextValueMutationCount = 4;
const DWORD CountMutationCount = 5;
const DWORD StrikeOdds = 4;
const DWORD MaxTemplateText = 80;
const DWORD MaxBodyStrikes = 8;
const DWORD OversizeLimit = 5000;
const DWORD HugeCount = 0x800000;
const ULONGLONG MaxDataBytes = 1024 * 1024;
const WORD MaxTextValue = 0xFFFF;
// Commands above the last known one, and below zero, once wrapped.
const DWORD FirstUnknownCmd = eServiceCmdChangeDriveLetter + 1;
const DWORD UnknownCmdCount = 0x100 - FirstUnknownCmd;
const DWORD MaxUnknownBody = 16;
const DWORD SectorSize = CCardVolume::SectorSize;
}

CFuzzAnswers::CFuzzAnswers(DWORD seed)
    : m_state(seed != 0 ? seed : ZeroSeedReplacement)
{
}

DWORD CFuzzAnswers::MessageCount()
{
    return 1 + Below(MaxMessages);
}

std::vector<BYTE> CFuzzAnswers::Message(DWORD count)
{
    UArea area;
    Fill(area.bytes, sizeof(area.bytes));
    Shape(area.message, count);
    Mutate(area, count);
    return Wire(area);
}

DWORD CFuzzAnswers::Next()
{
    m_state ^= m_state << XorShiftA;
    m_state ^= m_state >> XorShiftB;
    m_state ^= m_state << XorShiftC;
    return m_state;
}

DWORD CFuzzAnswers::Below(ULONGLONG bound)
{
    return static_cast<DWORD>(Next() % bound);
}

bool CFuzzAnswers::Strikes()
{
    return Below(StrikeOdds) == 0;
}

void CFuzzAnswers::Fill(BYTE* pBytes, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        pBytes[i] = static_cast<BYTE>(Next());
}

// A valid message of some kind; the fields left alone keep the random
// bytes they were filled with.
void CFuzzAnswers::Shape(SECTORIX_HEADERS& message, DWORD count)
{
    SECTORIX_HEADER& header = message.header;
    switch (Below(ShapeCount))
    {
    case 0:
        header = {sizeof(SECTORIX_SECTORS), eServiceCmdReadSectors, header.volume};
        message.sectors.count = Below(static_cast<ULONGLONG>(count) + 1);
        break;
    case 1:
        header = {sizeof(SECTORIX_TEXT), eServiceCmdLog, 0};
        message.text.value = static_cast<WORD>(1 + Below(MaxTemplateText));
        break;
    case 2:
        header = {sizeof(SECTORIX_TEXT), eServiceCmdError, 0};
        message.text.value = static_cast<WORD>(1 + Below(MaxTemplateText));
        break;
    case 3:
        header = {sizeof(SECTORIX_VERSION), eServiceCmdGetVersion, 0};
        break;
    case 4:
        header = {sizeof(SECTORIX_CARD), eServiceCmdOpenCard, header.volume};
        break;
    case 5:
        header = {sizeof(SECTORIX_ARP), eServiceCmdDeleteArpEntry, 0};
        break;
    case 6:
        header = {static_cast<DWORD>(sizeof(SECTORIX_HEADER) + Below(MaxUnknownBody)),
                  static_cast<_eServiceCmd>(FirstUnknownCmd + Below(UnknownCmdCount)), 0};
        break;
    default:
        header = {sizeof(SECTORIX_HEADER), eServiceCmdChangeDriveLetter, 0};
        break;
    }
}

void CFuzzAnswers::Mutate(UArea& area, DWORD count)
{
    SECTORIX_HEADERS& message = area.message;
    if (Strikes())
        message.header.size = MutatedSize(message.header.size);
    if (Strikes())
        message.header.cmd = static_cast<_eServiceCmd>(Next());
    if (Strikes())
        message.text.value = MutatedTextValue();
    if (Strikes())
        message.sectors.count = MutatedCount(count);
    if (!Strikes())
        return;
    for (DWORD strikes = 1 + Below(MaxBodyStrikes); strikes > 0; --strikes)
        area.bytes[sizeof(SECTORIX_HEADER) + Below(sizeof(area.bytes) - sizeof(SECTORIX_HEADER))] =
            static_cast<BYTE>(Next());
}

DWORD CFuzzAnswers::MutatedSize(DWORD size)
{
    switch (Below(SizeMutationCount))
    {
    case 0:
        return Below(sizeof(SECTORIX_HEADER));
    case 1:
        return sizeof(SECTORIX_HEADER) + 1 + Below(sizeof(SECTORIX_SECTORS) - sizeof(SECTORIX_HEADER) - 1);
    case 2:
        return ServiceMessageAreaSize;
    case 3:
        return ServiceMessageAreaSize + 1 + Below(OversizeLimit - ServiceMessageAreaSize);
    case 4:
        return Next();
    default:
        return Below(2) ? size + 1 : size - 1;
    }
}

WORD CFuzzAnswers::MutatedTextValue()
{
    const WORD values[TextValueMutationCount] = {0, 1, static_cast<WORD>(Next()), MaxTextValue};
    return values[Below(TextValueMutationCount)];
}

DWORD CFuzzAnswers::MutatedCount(DWORD count)
{
    const DWORD counts[CountMutationCount] = {0, count, count + 1, Next(), HugeCount};
    return counts[Below(CountMutationCount)];
}

// A size the client must reject goes out as a bare header: the client
// closes the pipe on it, and anything more would only be lost.
std::vector<BYTE> CFuzzAnswers::Wire(const UArea& area)
{
    const SECTORIX_HEADERS& message = area.message;
    DWORD size = message.header.size;
    if (size < sizeof(SECTORIX_HEADER) || size > ServiceMessageAreaSize)
        return std::vector<BYTE>(area.bytes, area.bytes + sizeof(SECTORIX_HEADER));
    std::vector<BYTE> wire(area.bytes, area.bytes + size);
    signed char cmd = message.header.cmd;
    ULONGLONG trailing = 0;
    bool bText = (cmd == eServiceCmdError || cmd == eServiceCmdLog) && size >= sizeof(SECTORIX_TEXT);
    if (bText)
        trailing = message.text.value;
    else if (cmd == eServiceCmdReadSectors && size >= sizeof(SECTORIX_SECTORS))
        trailing = static_cast<ULONGLONG>(message.sectors.count) * SectorSize;
    if (trailing > MaxDataBytes)
        return wire;
    wire.resize(size + static_cast<size_t>(trailing));
    Fill(wire.data() + size, static_cast<size_t>(trailing));
    if (bText && trailing > 0 && !Strikes())
        wire.back() = 0;
    return wire;
}
