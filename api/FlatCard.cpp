// The flat functions that read, write and command the card of the active
// source. Pointers from the host are used only when they are not null.
#include "Sectorix/Sectorix.h"
#include "Sectorix/Watchguard.h"
#include "api/FlatExports.h"
#include "api/FlatSource.h"
#include "telemetry/ListBlock.h"

#include <cstring>
#include <cwchar>

using namespace Sectorix;

namespace
{
const uint16_t DefaultListBlockLength = SECTORIX_LIST_BLOCK_DEFAULT_SIZE;
const wchar_t ProductName[] = L"Sectorix DLL";
const wchar_t VendorText[] = L"Sectorix";
const wchar_t NoticeText[] = L"Reads the card of a data logger in place of the telemetry library";
const wchar_t Description[] =
    L"Sectorix DLL is used to access FlashCards on Windows-based computers (Win98/ME/WinNT4/Win2000)";

int Answer(bool success)
{
    return success ? 1 : 0;
}

template <size_t N>
void CopyText(WCHAR (&field)[N], const wchar_t* text)
{
    std::wcsncpy(field, text, N - 1);
}

SECTORIX_VERSION_INFO MakeVersionInfo()
{
    SECTORIX_VERSION_INFO info = {};
    info.version = SECTORIX_VERSION_INFO_VERSION;
    CopyText(info.product, ProductName);
    CopyText(info.vendor, VendorText);
    CopyText(info.notice, NoticeText);
    CopyText(info.description, Description);
    return info;
}

const SECTORIX_VERSION_INFO VersionInfo = MakeVersionInfo();

// The card's size in bytes, or 0 without an active source.
unsigned long long ActiveCardSize()
{
    CSectorix* pSource = FlatActiveSource();
    return pSource ? pSource->GetCardSize() : 0;
}
}

extern "C" int WINAPI getTelvaneSyncObject(HANDLE*)
{
    return 0;
}

extern "C" int WINAPI getTelvaneVersionInfo(SECTORIX_VERSION_INFO* info)
{
    if (!info)
        return 0;
    *info = VersionInfo;
    return 1;
}

extern "C" int WINAPI getTelvaneError(unsigned short* code, wchar_t* text)
{
    CWatchguard* pWatchguard = g_pWatchguard;
    if (!pWatchguard || !code || !text)
        return 0;
    CSectorix* pSource = pWatchguard->GetActiveSectorix();
    return Answer(pSource ? pSource->TelvaneGetError(code, text) : pWatchguard->TelvaneGetError(code, text));
}

extern "C" int WINAPI getTelvanePacketSize(UINT* size)
{
    CSectorix* pSource = FlatActiveSource();
    return Answer(pSource && size && pSource->TelvaneGetPacketSize(size));
}

// A card of a multiple of 4 GiB has no 32-bit size: it answers 0.
extern "C" int WINAPI getMCardImageSize(DWORD* size)
{
    if (!g_pWatchguard || !size)
        return 0;
    *size = static_cast<DWORD>(ActiveCardSize());
    return Answer(*size != 0);
}

extern "C" int WINAPI getMCardImageSize64(unsigned long long* size)
{
    if (!g_pWatchguard || !size)
        return 0;
    *size = ActiveCardSize();
    return Answer(*size != 0);
}

extern "C" int WINAPI getSectorData(DWORD sector, BYTE* buffer)
{
    CSectorix* pSource = FlatActiveSource();
    return Answer(pSource && buffer && pSource->ReadSectorsA(buffer, sector, 1));
}

extern "C" int WINAPI getSectorDataEx(DWORD firstSector, UINT count, BYTE* buffer, DWORD* sectors)
{
    if (sectors)
        return getSectorDataExB(count, sectors, buffer);
    return getSectorDataExA(firstSector, count, buffer);
}

extern "C" int WINAPI getSectorDataExA(DWORD firstSector, UINT count, BYTE* buffer)
{
    CSectorix* pSource = FlatActiveSource();
    return Answer(pSource && buffer && pSource->ReadSectorsA(buffer, firstSector, count));
}

extern "C" int WINAPI getSectorDataExB(UINT count, DWORD* sectors, BYTE* buffer)
{
    CSectorix* pSource = FlatActiveSource();
    return Answer(pSource && buffer && sectors && pSource->ReadSectorsB(buffer, count, sectors));
}

extern "C" int WINAPI putSectorDataExA(DWORD firstSector, UINT count, BYTE* buffer)
{
    CSectorix* pSource = FlatActiveSource();
    return Answer(pSource && buffer && pSource->WriteSectors(buffer, firstSector, count));
}

// The record's first word is its length in bytes (0 asks for the default);
// nothing is written beyond it.
extern "C" int WINAPI getListBlock(unsigned short* record)
{
    if (!g_pWatchguard || !record)
        return 0;
    CSectorix* pSource = FlatActiveSource();
    const _list_block* pListBlock = pSource ? pSource->TelvaneGetListBlock() : nullptr;
    uint16_t length = record[0] ? record[0] : DefaultListBlockLength;
    if (!pListBlock)
    {
        std::memset(record, 0, length);
        return 0;
    }
    CopyListBlock(pListBlock, sizeof(_list_block), reinterpret_cast<_list_block*>(record), length);
    return 1;
}

extern "C" int WINAPI putLogbookEntry(DWORD entry)
{
    CSectorix* pSource = FlatActiveSource();
    return Answer(pSource && pSource->TelvanePutLogbookEntry(entry));
}

extern "C" int WINAPI reloginMemoryCard()
{
    if (!g_pWatchguard)
        return 0;
    CSectorix* pSource = FlatActiveSource();
    return Answer(!pSource || pSource->TelvaneReloginMemoryCard());
}

extern "C" int WINAPI restartMeasurement()
{
    CSectorix* pSource = FlatActiveSource();
    return Answer(pSource && pSource->TelvaneRestartMeasurement());
}

extern "C" int WINAPI sendTelvaneCommand(unsigned short command, BYTE* data, unsigned short* length, BYTE* answer)
{
    CSectorix* pSource = FlatActiveSource();
    return Answer(pSource && pSource->TelvaneSendCommand(command, data, length, answer));
}

extern "C" int WINAPI endDataTransmit()
{
    CSectorix* pSource = FlatActiveSource();
    if (!pSource)
        return 0;
    pSource->TelvaneEndTransmit();
    return 1;
}

extern "C" int WINAPI getSectorixType(unsigned short* type)
{
    CSectorix* pSource = FlatActiveSource();
    if (!pSource || !type)
        return 0;
    *type = static_cast<unsigned short>(pSource->GetSectorixType());
    return 1;
}
