#include "Sectorix/CMDLLApi.h"

#include "Sectorix/Sectorix.h"
#include "Sectorix/SectorixDrive.h"
#include "afx/ThreadAnsi.h"
#include "api/FlatExports.h"

#include <algorithm>
#include <string>

using namespace Sectorix;

IMPLEMENT_DYNAMIC(CCMDLLApi, CCSMDLL)

namespace
{
const DWORD FormatSectors = 64;
const BYTE ErasedByte = 0xFF;
// The card's first sectors hold its file system; the format is past them
// once it writes beyond this sector.
const DWORD StartSectors = 128;
const double Percent = 100.0;

// The library takes narrow names in the calling thread's code page; a
// missing name stays missing.
class CNarrowName
{
public:
    explicit CNarrowName(const wchar_t* name)
        : m_bPresent(name != nullptr)
        , m_name(ToThreadAnsi(name))
    {
    }
    const char* Get() const { return m_bPresent ? m_name.c_str() : nullptr; }

private:
    bool m_bPresent;
    std::string m_name;
};
}

CCMDLLApi::CCMDLLApi(const wchar_t* path)
    : CCSMDLL(path)
{
}

// The last-lap group is looked for whatever the required entries gave.
bool CCMDLLApi::Load()
{
    if (!CCSMDLL::Load())
        return false;
    bool resolved = ResolveRequired();
    ResolveLastLapGroup();
    return resolved;
}

// Resolution stops at the first required entry that is missing.
bool CCMDLLApi::ResolveRequired()
{
    return Resolve("cmdllGetDriveStatus", m_pfnGetDriveStatus) &&
           Resolve("cmdllGetErrorText", m_pfnGetErrorText) &&
           Resolve("cmdllCardHasBeenRead", m_pfnCardHasBeenRead) &&
           Resolve("cmdllDoInitCard", m_pfnDoInitCard) &&
           Resolve("cmdllInitReadCard2", m_pfnInitReadCard2) &&
           Resolve("cmdllDoReadCard2", m_pfnDoReadCard2) &&
           Resolve("cmdllExitReadCard2", m_pfnExitReadCard2) &&
           Resolve("cmdllInitCopyCard2Image", m_pfnInitCopyCard2Image) &&
           Resolve("cmdllDoCopyCard2Image", m_pfnDoCopyCard2Image) &&
           Resolve("cmdllExitCopyCard2Image", m_pfnExitCopyCard2Image) &&
           Resolve("cmdllGetCardSize", m_pfnGetCardSize) &&
           Resolve("cmdllGetPCCardDriverCount", m_pfnGetPCCardDriverCount) &&
           Resolve("cmdllGetPCCardSocketCount", m_pfnGetPCCardSocketCount) &&
           Resolve("cmdllSelectPCCardDrive", m_pfnSelectPCCardDrive) &&
           ResolveEither("_cmdllDoReadCard1", "cmdllDoReadCard1", m_pfnDoReadCard1) &&
           ResolveEither("_cmdllMountDataSource", "cmdllMountDataSource", m_pfnMountDataSource) &&
           Resolve("cmdllUnmountDataSource", m_pfnUnmountDataSource) &&
           Resolve("cmdllGetMountStatus", m_pfnGetMountStatus) &&
           Resolve("cmdllGetDataSourceSize", m_pfnGetDataSourceSize) &&
           Resolve("cmdllReadMemInfoCM", m_pfnReadMemInfoCM) &&
           Resolve("cmdllReadRecInfoSGID", m_pfnReadRecInfoSGID) &&
           Resolve("cmdllReadRecInfoSG", m_pfnReadRecInfoSG) &&
           Resolve("cmdllReadRecInfoESIBID", m_pfnReadRecInfoESIBID) &&
           Resolve("cmdllReadRecInfoESIB", m_pfnReadRecInfoESIB) &&
           Resolve("cmdllReadRecInfoCMID", m_pfnReadRecInfoCMID) &&
           Resolve("cmdllReadRecInfoCM", m_pfnReadRecInfoCM) &&
           Resolve("cmdllReadVELORInfo", m_pfnReadVELORInfo) &&
           Resolve("cmdllReadStatusSG", m_pfnReadStatusSG) &&
           Resolve("cmdllReadStatusESIB", m_pfnReadStatusESIB) &&
           Resolve("cmdllReadLapStack", m_pfnReadLapStack) &&
           Resolve("cmdllReadLogFile", m_pfnReadLogFile) &&
           Resolve("cmdllReadDataInfo", m_pfnReadDataInfo) &&
           Resolve("cmdllInitReadLapData1A", m_pfnInitReadLapData1A) &&
           Resolve("cmdllDoReadLapData1A", m_pfnDoReadLapData1A) &&
           Resolve("cmdllExitReadLapData1A", m_pfnExitReadLapData1A) &&
           Resolve("cmdllInitReadLapData1B", m_pfnInitReadLapData1B) &&
           Resolve("cmdllDoReadLapData1B", m_pfnDoReadLapData1B) &&
           Resolve("cmdllExitReadLapData1B", m_pfnExitReadLapData1B) &&
           Resolve("cmdllInitReadLapData1C", m_pfnInitReadLapData1C) &&
           Resolve("cmdllDoReadLapData1C", m_pfnDoReadLapData1C) &&
           Resolve("cmdllExitReadLapData1C", m_pfnExitReadLapData1C) &&
           Resolve("cmdllInitReadLongTerm1", m_pfnInitReadLongTerm1) &&
           Resolve("cmdllDoReadLongTerm1", m_pfnDoReadLongTerm1) &&
           Resolve("cmdllExitReadLongTerm1", m_pfnExitReadLongTerm1) &&
           Resolve("cmdllInitReadLapData2A", m_pfnInitReadLapData2A) &&
           Resolve("cmdllDoReadLapData2A", m_pfnDoReadLapData2A) &&
           Resolve("cmdllExitReadLapData2A", m_pfnExitReadLapData2A) &&
           Resolve("cmdllInitReadLapData2B", m_pfnInitReadLapData2B) &&
           Resolve("cmdllDoReadLapData2B", m_pfnDoReadLapData2B) &&
           Resolve("cmdllExitReadLapData2B", m_pfnExitReadLapData2B) &&
           Resolve("cmdllInitReadLapData2C", m_pfnInitReadLapData2C) &&
           Resolve("cmdllDoReadLapData2C", m_pfnDoReadLapData2C) &&
           Resolve("cmdllExitReadLapData2C", m_pfnExitReadLapData2C) &&
           Resolve("cmdllInitReadLongTerm2", m_pfnInitReadLongTerm2) &&
           Resolve("cmdllDoReadLongTerm2", m_pfnDoReadLongTerm2) &&
           Resolve("cmdllExitReadLongTerm2", m_pfnExitReadLongTerm2);
}

void CCMDLLApi::ResolveLastLapGroup()
{
    bool complete = Resolve("cmdllInitReadLastLap", m_pfnInitReadLastLap) &&
                    Resolve("cmdllDoReadLastLap", m_pfnDoReadLastLap) &&
                    Resolve("cmdllExitReadLastLap", m_pfnExitReadLastLap);
    if (!complete)
        m_pfnInitReadLastLap = nullptr;
}

// Libraries that export an entry under both names are bound to the one
// with the underscore.
template <class TEntry>
bool CCMDLLApi::ResolveEither(const char* first, const char* second, TEntry& entry)
{
    return Resolve(first, entry) || Resolve(second, entry);
}

DWORD CCMDLLApi::MountDataSource(const wchar_t* name, void*& handle, bool format)
{
    CNarrowName narrow(name);
    DWORD code = cmdllMountDataSource(narrow.Get(), handle, format ? 1 : 0);
    if (code != CARDLIB_SUCCESS)
        handle = nullptr;
    return code;
}

void CCMDLLApi::UnmountDataSource(void* handle)
{
    m_pfnUnmountDataSource(&handle);
}

DWORD CCMDLLApi::InitCard(const wchar_t* initFile)
{
    CNarrowName narrow(initFile);
    return m_pfnDoInitCard(narrow.Get());
}

DWORD CCMDLLApi::ReadInitCard(const wchar_t* dataSource, const wchar_t* outputFile)
{
    CNarrowName narrowSource(dataSource);
    CNarrowName narrowFile(outputFile);
    return cmdllDoReadCard1(narrowSource.Get(), narrowFile.Get());
}

unsigned int CCMDLLApi::cmdllDoReadCard1(const char* dataSource, const char* outputFile)
{
    return m_pfnDoReadCard1(dataSource, outputFile);
}

unsigned int CCMDLLApi::cmdllMountDataSource(const char* name, void*& handle, int format)
{
    return m_pfnMountDataSource(name, &handle, format);
}

unsigned int CCMDLLApi::cmdllGetDriveStatus(SECTORIX_CMDLL_DRIVE_STATUS* status)
{
    return m_pfnGetDriveStatus(status);
}

unsigned int CCMDLLApi::cmdllGetCardSize(DWORD* size)
{
    return m_pfnGetCardSize(size);
}

unsigned int CCMDLLApi::cmdllCardHasBeenRead(void** dataSource)
{
    return m_pfnCardHasBeenRead(dataSource);
}

// Drives are counted across the library's PC-card drivers, driver by
// driver, socket by socket.
int CCMDLLApi::cmdllSelectDrive(int index)
{
    unsigned short drivers = 0;
    m_pfnGetPCCardDriverCount(&drivers);
    int base = 0;
    for (unsigned short driver = 0; driver < drivers; ++driver)
    {
        unsigned short sockets = 0;
        m_pfnGetPCCardSocketCount(driver, &sockets);
        if (index - base >= 0 && index - base < sockets)
        {
            m_pfnSelectPCCardDrive(driver, static_cast<unsigned short>(index - base));
            return index;
        }
        base += sockets;
    }
    return -1;
}

// The host's own format erases the card of the active source, through the
// functions it would use itself.
DWORD CCMDLLApi::AsyncFormatCard()
{
    DWORD size = 0;
    if (!getMCardImageSize(&size))
        return CARDLIB_FORMAT_FAILED;
    return EraseCard(size / SectorSize, nullptr);
}

// A source's card is erased only through that source, whichever is active;
// a drive whose card nobody opened is opened for the format alone.
DWORD CCMDLLApi::FormatSourceCard(CSectorix& card)
{
    CSectorixDrive* pDrive = card.IsKindOf(RUNTIME_CLASS(CSectorixDrive)) ? static_cast<CSectorixDrive*>(&card)
                                                                           : nullptr;
    bool openedHere = pDrive && !pDrive->isOpened();
    if (openedHere && !pDrive->OpenCard())
        return CARDLIB_FORMAT_FAILED;
    unsigned long long size = card.GetCardSize();
    DWORD code = CARDLIB_FORMAT_FAILED;
    if (size != 0)
        code = EraseCard(static_cast<DWORD>(std::min<unsigned long long>(size / SectorSize, MAXDWORD)), &card);
    if (openedHere)
        pDrive->CloseCard();
    return code;
}

// Overwrites every sector with 0xFF, 64 sectors a write, from a page-aligned
// buffer as unbuffered devices need it; without a card, through the active
// source. Sectors written before a failed write or a cancel stay written; a
// cancelled format counts as finished.
DWORD CCMDLLApi::EraseCard(DWORD sectors, CSectorix* pCard)
{
    const UINT bufferSize = FormatSectors * SectorSize;
    BYTE* erased = static_cast<BYTE*>(::VirtualAlloc(nullptr, bufferSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!erased)
        return CARDLIB_FORMAT_FAILED;
    std::fill(erased, erased + bufferSize, ErasedByte);
    DWORD code = CARDLIB_SUCCESS;
    for (DWORD i = 0; i < sectors && !m_bCancel;)
    {
        m_dwProgress = static_cast<DWORD>(i * Percent / sectors);
        m_bPastStart = i > StartSectors;
        UINT count = std::min(FormatSectors, sectors - i);
        bool written = pCard ? pCard->WriteSectors(erased, i, count) : putSectorDataExA(i, count, erased) != 0;
        if (!written)
        {
            code = CARDLIB_FORMAT_FAILED;
            break;
        }
        i += count;
    }
    ::VirtualFree(erased, 0, MEM_RELEASE);
    if (code == CARDLIB_SUCCESS)
        m_dwProgress = 100;
    return code;
}
