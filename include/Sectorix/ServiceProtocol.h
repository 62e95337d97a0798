#pragma once

#include <cstddef>
#include <cstdint>

// The messages of the card service's pipe. Every message starts with a
// SECTORIX_HEADER; all fields are little-endian and byte-packed. Sector data
// and texts follow a message on the pipe and are not counted in its size.
// The header needs no Windows header, so that the code that checks what
// arrives can be built and fuzzed anywhere.

#define SECTORIX_SERVICE_PIPE L"\\\\.\\pipe\\SectorixService"
#define SECTORIX_SERVICE_RUNNING L"Global\\SectorixServiceRunning"
#define SECTORIX_SERVICE_V2_RUNNING L"Global\\SectorixServicev2Running"

enum _eServiceCmd : signed char
{
    eServiceCmdError = 0,
    eServiceCmdOpenCard = 1,
    eServiceCmdCloseCard = 2,
    eServiceCmdReadSectors = 3,
    eServiceCmdWriteSectors = 4,
    eServiceCmdDeleteArpEntry = 5,
    eServiceCmdGetVersion = 6,
    eServiceCmdLog = 7,
    eServiceCmdChangeDriveLetter = 10
};

namespace Sectorix
{
// Protocol versions, major.minor.build.revision from the top byte down.
const uint32_t ServiceVersion1000 = 0x01000000;
const uint32_t ServiceVersionDeleteArp = 0x01000501;
const uint32_t ServiceVersionArpResult = 0x01010201;
const uint32_t ServiceVersionLogForwarding = 0x01010401;
const uint32_t ServiceVersionPhysicalDrives = 0x01010701;
const uint32_t ServiceVersionChangeDriveLetter = 0x01010A01;

const uint16_t ServiceLogForwardOn = 1;
const uint32_t ServicePathLength = 261;
const uint32_t ServiceDeviceNameSize = 64;
const uint8_t ServiceFlagNotHotPlugged = 0x01;
const uint32_t ServiceMessageAreaSize = 2076;
}

#pragma pack(push, 1)

struct SECTORIX_HEADER
{
    uint32_t size;
    _eServiceCmd cmd;
    uint8_t volume;
};

struct SECTORIX_VERSION
{
    SECTORIX_HEADER header;
    uint32_t version;
};

// Services before 1.1.7.1 know only the first 14 bytes.
struct SECTORIX_CARD
{
    SECTORIX_HEADER header;
    unsigned long long mediaSize;
    uint8_t flags;
    char deviceName[Sectorix::ServiceDeviceNameSize];
};

struct SECTORIX_SECTORS
{
    SECTORIX_HEADER header;
    uint32_t firstSector;
    uint32_t count;
};

struct SECTORIX_ARP
{
    SECTORIX_HEADER header;
    uint32_t address;
    int32_t result;
};

// Followed by value bytes of text when it comes from the service.
struct SECTORIX_TEXT
{
    SECTORIX_HEADER header;
    uint16_t value;
};

struct SECTORIX_DRIVE_LETTER
{
    SECTORIX_HEADER header;
    char16_t mountPoint[Sectorix::ServicePathLength];
    char16_t newMountPoint[Sectorix::ServicePathLength];
};

union SECTORIX_HEADERS
{
    SECTORIX_HEADER header;
    SECTORIX_VERSION version;
    SECTORIX_CARD card;
    SECTORIX_SECTORS sectors;
    SECTORIX_ARP arp;
    SECTORIX_TEXT text;
    SECTORIX_DRIVE_LETTER driveLetter;
};

#pragma pack(pop)

namespace Sectorix
{
const uint32_t ServiceCardSizeShort = offsetof(SECTORIX_CARD, flags);
}

static_assert(sizeof(SECTORIX_HEADER) == 6, "header");
static_assert(sizeof(SECTORIX_VERSION) == 10, "version message");
static_assert(offsetof(SECTORIX_CARD, flags) == 14 && sizeof(SECTORIX_CARD) == 79, "card message");
static_assert(sizeof(SECTORIX_SECTORS) == 14, "sector message");
static_assert(sizeof(SECTORIX_ARP) == 14, "ARP message");
static_assert(sizeof(SECTORIX_TEXT) == 8, "text message");
static_assert(offsetof(SECTORIX_DRIVE_LETTER, newMountPoint) == 528 && sizeof(SECTORIX_DRIVE_LETTER) == 1050,
              "drive-letter message");
static_assert(sizeof(SECTORIX_HEADERS) <= Sectorix::ServiceMessageAreaSize, "message area");
