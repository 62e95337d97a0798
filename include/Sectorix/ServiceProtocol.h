#pragma once

#include <windows.h>

#include <cstddef>

// The messages of the card service's pipe. Every message starts with a
// SECTORIX_HEADER; all fields are little-endian and byte-packed. Sector data
// and texts follow a message on the pipe and are not counted in its size.

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
const DWORD ServiceVersion1000 = 0x01000000;
const DWORD ServiceVersionDeleteArp = 0x01000501;
const DWORD ServiceVersionArpResult = 0x01010201;
const DWORD ServiceVersionLogForwarding = 0x01010401;
const DWORD ServiceVersionPhysicalDrives = 0x01010701;
const DWORD ServiceVersionChangeDriveLetter = 0x01010A01;

const WORD ServiceLogForwardOn = 1;
const UINT ServicePathLength = MAX_PATH + 1;
const UINT ServiceDeviceNameSize = 64;
const BYTE ServiceFlagNotHotPlugged = 0x01;
const DWORD ServiceMessageAreaSize = 2076;
}

#pragma pack(push, 1)

struct SECTORIX_HEADER
{
    DWORD size;
    _eServiceCmd cmd;
    BYTE volume;
};

struct SECTORIX_VERSION
{
    SECTORIX_HEADER header;
    DWORD version;
};

// Services before 1.1.7.1 know only the first 14 bytes.
struct SECTORIX_CARD
{
    SECTORIX_HEADER header;
    unsigned long long mediaSize;
    BYTE flags;
    char deviceName[Sectorix::ServiceDeviceNameSize];
};

struct SECTORIX_SECTORS
{
    SECTORIX_HEADER header;
    DWORD firstSector;
    DWORD count;
};

struct SECTORIX_ARP
{
    SECTORIX_HEADER header;
    DWORD address;
    LONG result;
};

// Followed by value bytes of text when it comes from the service.
struct SECTORIX_TEXT
{
    SECTORIX_HEADER header;
    WORD value;
};

struct SECTORIX_DRIVE_LETTER
{
    SECTORIX_HEADER header;
    wchar_t mountPoint[Sectorix::ServicePathLength];
    wchar_t newMountPoint[Sectorix::ServicePathLength];
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
const DWORD ServiceCardSizeShort = offsetof(SECTORIX_CARD, flags);
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
