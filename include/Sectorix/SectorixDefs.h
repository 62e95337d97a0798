#pragma once

#include "afx/AfxDefs.h"

#ifdef SECTORIX_BUILD
#define SECTORIX_API __declspec(dllexport)
#else
#define SECTORIX_API __declspec(dllimport)
#endif

// First argument of every notification to the host; the second is the source concerned.
enum eWatchguardState
{
    WatchguardStopped = 0,
    WatchguardStarted = 1,
    MediaRemoved = 2,
    MediaInserted = 3,
    StatusTerminate = 4
};

// The kind of a card source; the values are handed to hosts unchanged.
enum eSectorixType
{
    TypeRT9ABurst = 0,
    TypeSPIDirect = 1,
    TypeTelvane = 2,
    TypeDrive = 3,
    TypeCSM = 10,
    TypeImageFile = 20
};

// How a card initialisation ended; the card library's own code goes with it.
enum eSectorixError
{
    ErrorNone = 0,
    ErrorMount = 1,
    ErrorReadInit = 2,
    ErrorInitCard = 3,
    ErrorVerify = 4
};

namespace Sectorix
{

enum ActivationMode
{
    SetActive = 0,
    ActivateOnly = 1,
    DeactivateOnly = 2
};

const UINT SectorSize = 512;

// Success in the card library code space, which every card source answers
// in; the library's codes reach the host unchanged.
const DWORD CARDLIB_SUCCESS = 0x20010000;

// Link status words of TelvaneGetStatus: only STATUS_CONNECTED means the
// card can be read; a drive whose card is present but cannot be opened
// answers STATUS_CARD_NOT_OPENED.
const unsigned short STATUS_CONNECTED = 0xF006;
const unsigned short STATUS_NOT_CONNECTED = 0x0F03;
const unsigned short STATUS_CARD_NOT_OPENED = 0x0F04;

// What the telemetry sources post to their notification target in wParam,
// besides the link status words themselves. lParam: the library's version
// number; the lap numbers (first << 16 | second); the size of a lap file
// that was already there.
const UINT NOTIFY_LAP_STARTED = 0xFE03;
const UINT NOTIFY_LAP_DONE = 0xFE04;
const UINT NOTIFY_LAP_FAILED = 0xFE05;
const UINT NOTIFY_LAP_PRESENT = 0xFE06;
const UINT NOTIFY_VERSION = 0xFE07;

}
