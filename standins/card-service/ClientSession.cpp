#include "ClientSession.h"

#include "CardVolume.h"
#include "Console.h"
#include "PipeInstance.h"
#include "Recorder.h"
#include "ServiceOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

using namespace Sectorix;

namespace
{
const char LogPrefix[] = "SectorixService: ";
const char BetweenText[] = "SectorixService: between request and response";
const char UnknownText[] = "unknown request";
const char RefusedText[] = "stand-in refuses the request";
const char NotServedText[] = "no card in this volume";
const char PastEndText[] = "sectors beyond the end of the card";
const char BadSectorText[] = "the card cannot read these sectors";
const char WriteDataText[] = "write data does not match the request";
const char ImageText[] = "the card image cannot be read or written";
const char FuzzEndText[] = "fuzz end";
const DWORD SizeSmallField = 5;
const DWORD SizeLargeField = 4000;
const DWORD ShortenedBytes = 4;
const DWORD SectorSize = CCardVolume::SectorSize;

std::string MountPoint(const SECTORIX_DRIVE_LETTER& request, size_t offset)
{
    wchar_t path[ServicePathLength];
    std::memcpy(path, reinterpret_cast<const BYTE*>(&request) + offset, sizeof(path));
    return Narrow(std::wstring(path, wcsnlen(path, ServicePathLength)), CP_ACP);
}
}

CClientSession::CClientSession(SServiceContext& context, std::unique_ptr<CPipeInstance> pipe, DWORD index)
    : m_context(context)
    , m_options(context.options)
    , m_pipe(std::move(pipe))
    , m_index(index)
    , m_fuzz(context.options.FuzzSeed() + index)
{
}

CClientSession::~CClientSession() = default;

void CClientSession::Run()
{
    std::vector<BYTE> message;
    while (Receive(message) && Serve(message))
    {
    }
    if (m_pipe->Error() != ERROR_SUCCESS && !m_pipe->ClientGone())
        Complain("client " + std::to_string(m_index) + ": " + SystemMessage(m_pipe->Error()));
}

bool CClientSession::Receive(std::vector<BYTE>& message)
{
    if (!m_pipe->ReadMessage(message))
        return false;
    m_context.recorder.Record(message);
    return true;
}

// A request is known when its size is the one its command has in the
// configured version; anything else is answered as unknown.
bool CClientSession::Parse(const std::vector<BYTE>& message, SECTORIX_HEADERS& request) const
{
    if (message.size() < sizeof(SECTORIX_HEADER))
        return false;
    std::memcpy(&request, message.data(), sizeof(SECTORIX_HEADER));
    DWORD size = ExpectedSize(request.header.cmd);
    if (size == 0 || request.header.size != size || message.size() != size)
        return false;
    std::memcpy(&request, message.data(), size);
    return true;
}

DWORD CClientSession::ExpectedSize(signed char cmd) const
{
    DWORD version = m_options.Version();
    switch (cmd)
    {
    case eServiceCmdOpenCard:
    case eServiceCmdCloseCard:
        return version < ServiceVersionPhysicalDrives ? ServiceCardSizeShort : sizeof(SECTORIX_CARD);
    case eServiceCmdReadSectors:
    case eServiceCmdWriteSectors:
        return sizeof(SECTORIX_SECTORS);
    case eServiceCmdDeleteArpEntry:
        return version >= ServiceVersionDeleteArp ? sizeof(SECTORIX_ARP) : 0;
    case eServiceCmdGetVersion:
        return version > ServiceVersion1000 ? sizeof(SECTORIX_VERSION) : 0;
    case eServiceCmdLog:
        return version >= ServiceVersionLogForwarding ? sizeof(SECTORIX_TEXT) : 0;
    case eServiceCmdChangeDriveLetter:
        return version >= ServiceVersionChangeDriveLetter ? sizeof(SECTORIX_DRIVE_LETTER) : 0;
    default:
        return 0;
    }
}

// Services before physical drive support know drive letters only.
const CCardVolume* CClientSession::Find(BYTE volume) const
{
    if (volume >= CCardVolume::FirstDiskVolume && m_options.Version() < ServiceVersionPhysicalDrives)
        return nullptr;
    for (const std::unique_ptr<CCardVolume>& served : m_context.volumes)
    {
        if (served->Volume() == volume)
            return served.get();
    }
    return nullptr;
}

// A write's data comes as a message of its own and is taken off the pipe
// before anything is answered, even a refusal: it must not pass for the
// next request.
bool CClientSession::Serve(const std::vector<BYTE>& message)
{
    SECTORIX_HEADERS request = {};
    bool bKnown = Parse(message, request);
    std::vector<BYTE> data;
    if (bKnown && request.header.cmd == eServiceCmdWriteSectors && request.sectors.count != 0 && !Receive(data))
        return false;
    if (bKnown && request.header.cmd == eServiceCmdLog)
    {
        m_bForwardLog = request.text.value == ServiceLogForwardOn;
        return true;
    }
    if (!m_pipe->Idle(m_options.SlowMilliseconds()))
        return false;
    if (m_options.LogsBetween() && !SendText(eServiceCmdLog, BetweenText))
        return false;
    bool bServing = bKnown ? Answer(request, data) : SendError(UnknownText);
    return bServing && (!m_bForwardLog || SendText(eServiceCmdLog, LogPrefix + m_logLine));
}

bool CClientSession::Answer(const SECTORIX_HEADERS& request, const std::vector<BYTE>& data)
{
    signed char cmd = request.header.cmd;
    if (m_options.Refuses(cmd))
        return SendError(RefusedText);
    if (cmd == eServiceCmdGetVersion)
        return AnswerVersion();
    if (cmd == eServiceCmdDeleteArpEntry)
        return AnswerArp(request.arp);
    if (cmd == eServiceCmdChangeDriveLetter)
        return AnswerDriveLetter(request.driveLetter);
    const CCardVolume* pVolume = Find(request.header.volume);
    if (!pVolume)
        return SendError(NotServedText);
    if (cmd == eServiceCmdReadSectors)
        return AnswerRead(request.sectors, *pVolume);
    if (cmd == eServiceCmdWriteSectors)
        return AnswerWrite(request.sectors, data, *pVolume);
    return AnswerCard(request.card, *pVolume);
}

bool CClientSession::AnswerVersion()
{
    SECTORIX_VERSION answer = {{sizeof(SECTORIX_VERSION), eServiceCmdGetVersion, 0}, m_options.Version()};
    m_logLine = "version " + m_options.VersionText();
    return SendAnswer(&answer.header, sizeof(answer));
}

// The stand-in leaves the machine's ARP table alone.
bool CClientSession::AnswerArp(const SECTORIX_ARP& request)
{
    SECTORIX_ARP answer = request;
    answer.result = m_options.ArpResult();
    m_logLine = "deleted ARP entry " + std::to_string(request.address);
    return SendAnswer(&answer.header, sizeof(answer));
}

// The change is only reported: the stand-in's volumes keep their letters.
bool CClientSession::AnswerDriveLetter(const SECTORIX_DRIVE_LETTER& request)
{
    m_logLine = "drive letter of " + MountPoint(request, offsetof(SECTORIX_DRIVE_LETTER, mountPoint)) +
                " changed to " + MountPoint(request, offsetof(SECTORIX_DRIVE_LETTER, newMountPoint));
    std::printf("%s: %s\n", ProgramName, m_logLine.c_str());
    std::fflush(stdout);
    SECTORIX_HEADER answer = {sizeof(SECTORIX_HEADER), eServiceCmdChangeDriveLetter, request.header.volume};
    return Send(&answer, sizeof(answer));
}

// Open and close answers have the request's size; the short one of old
// versions ends after the media size.
bool CClientSession::AnswerCard(const SECTORIX_CARD& request, const CCardVolume& volume)
{
    SECTORIX_CARD answer = {};
    answer.header = request.header;
    answer.mediaSize = m_options.MediaSize(volume.Size());
    answer.flags = m_options.Flags();
    m_options.DeviceName().copy(answer.deviceName, ServiceDeviceNameSize - 1);
    m_logLine = (request.header.cmd == eServiceCmdOpenCard ? "opened " : "closed ") + volume.Name();
    return SendAnswer(&answer.header, request.header.size);
}

bool CClientSession::AnswerRead(const SECTORIX_SECTORS& request, const CCardVolume& volume)
{
    DWORD first = request.firstSector;
    DWORD count = request.count;
    if (m_options.ReadFault() == eReadFaultFuzz)
        return AnswerFuzzed(count);
    if (!volume.Contains(first, count))
        return SendError(PastEndText);
    if (m_options.TouchesBadSector(first, count))
        return SendError(BadSectorText);
    m_logLine = "read " + std::to_string(count) + " sectors at " + std::to_string(first) + " from " + volume.Name();
    SECTORIX_SECTORS header = {{sizeof(SECTORIX_SECTORS), eServiceCmdReadSectors, volume.Volume()}, first, count};
    SECTORIX_TEXT emptyText = {{sizeof(SECTORIX_TEXT), eServiceCmdError, 0}, 0};
    switch (m_options.ReadFault())
    {
    case eReadFaultSplit:
        return SendSplit(volume, first, count);
    case eReadFaultDrop:
        SendSectors(volume, first, count, count * SectorSize / 2);
        return false;
    case eReadFaultSizeSmall:
        return SendMisSized(header, SizeSmallField);
    case eReadFaultSizeLarge:
        return SendMisSized(header, SizeLargeField);
    case eReadFaultTextEmpty:
        return Send(&emptyText, sizeof(emptyText));
    case eReadFaultSectorsMore:
        return SendSectors(volume, first, count + 1);
    case eReadFaultApart:
        return Send(&header, sizeof(header)) && SendSectorData(volume, first, count);
    case eReadFaultDataMore:
        return SendSectors(volume, first, std::max<DWORD>(count / 2, 1)) && SendSectors(volume, first, count);
    default:
        return SendSectors(volume, first, count);
    }
}

bool CClientSession::AnswerFuzzed(DWORD count)
{
    for (DWORD left = m_fuzz.MessageCount(); left > 0; --left)
    {
        std::vector<BYTE> message = m_fuzz.Message(count);
        if (!Send(message.data(), message.size()))
            return false;
        ::InterlockedIncrement(&m_context.fuzzMessagesSent);
    }
    return SendError(FuzzEndText);
}

bool CClientSession::AnswerWrite(const SECTORIX_SECTORS& request, const std::vector<BYTE>& data,
                                 const CCardVolume& volume)
{
    DWORD first = request.firstSector;
    DWORD count = request.count;
    if (data.size() != static_cast<ULONGLONG>(count) * SectorSize)
        return SendError(WriteDataText);
    if (!volume.Contains(first, count))
        return SendError(PastEndText);
    if (!volume.Write(first, count, data.data()))
        return SendError(ImageText);
    m_logLine = "wrote " + std::to_string(count) + " sectors at " + std::to_string(first) + " to " + volume.Name();
    return Send(&request, sizeof(request));
}

// An empty read still gets one answer, of no sectors.
bool CClientSession::SendSplit(const CCardVolume& volume, DWORD first, DWORD count)
{
    DWORD done = 0;
    do
    {
        DWORD part = std::min(m_options.SplitSectors(), count - done);
        if (!SendSectors(volume, first + done, part))
            return false;
        done += part;
    } while (done < count);
    return true;
}

// The answer and its sectors go out as one message, as the service sends
// them; dataSent cuts the sectors short.
bool CClientSession::SendSectors(const CCardVolume& volume, DWORD first, DWORD count, size_t dataSent)
{
    SECTORIX_SECTORS answer = {{sizeof(SECTORIX_SECTORS), eServiceCmdReadSectors, volume.Volume()}, first, count};
    std::vector<BYTE> wire(sizeof(answer) + static_cast<size_t>(count) * SectorSize);
    std::memcpy(wire.data(), &answer, sizeof(answer));
    if (!volume.Read(first, count, wire.data() + sizeof(answer)))
        return SendError(ImageText);
    return Send(wire.data(), sizeof(answer) + std::min(dataSent, wire.size() - sizeof(answer)));
}

bool CClientSession::SendSectorData(const CCardVolume& volume, DWORD first, DWORD count)
{
    std::vector<BYTE> data(static_cast<size_t>(count) * SectorSize);
    return volume.Read(first, count, data.data()) && Send(data.data(), data.size());
}

// A read answer whose size field lies; it comes with as many bytes as the
// field says, but never fewer than a header.
bool CClientSession::SendMisSized(SECTORIX_SECTORS header, DWORD size)
{
    header.header.size = size;
    std::vector<BYTE> wire(std::max<size_t>(size, sizeof(SECTORIX_HEADER)));
    std::memcpy(wire.data(), &header, std::min(wire.size(), sizeof(header)));
    return Send(wire.data(), wire.size());
}

// Texts go out zero-terminated, the zero counted in the value.
bool CClientSession::SendText(_eServiceCmd cmd, const std::string& text)
{
    SECTORIX_TEXT header = {{sizeof(SECTORIX_TEXT), cmd, 0}, static_cast<WORD>(text.size() + 1)};
    std::vector<BYTE> wire(sizeof(header) + text.size() + 1);
    std::memcpy(wire.data(), &header, sizeof(header));
    std::memcpy(wire.data() + sizeof(header), text.c_str(), text.size() + 1);
    return Send(wire.data(), wire.size());
}

bool CClientSession::SendError(const std::string& text)
{
    m_logLine = "answered with an error: " + text;
    return SendText(eServiceCmdError, text);
}

// A short answer says it is short: its size field counts what is sent.
bool CClientSession::SendAnswer(SECTORIX_HEADER* pAnswer, DWORD size)
{
    if (m_options.Shortens(pAnswer->cmd))
        size -= ShortenedBytes;
    pAnswer->size = size;
    return Send(pAnswer, size);
}

bool CClientSession::Send(const void* pData, size_t size)
{
    return m_pipe->Write(pData, size);
}
