// The entries of the stand-in libraries. Every library file is built from
// these with its own export list, which gives each entry its decorated name;
// the three forms of the init entry and the burst logger's 8-bit one have
// names of their own here.
#include "TelemetryLink.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace
{
const size_t NameChars = 128;
const size_t DescriptionChars = 256;
const wchar_t NoText[] = L"null";

struct VersionRecord
{
    DWORD version;
    wchar_t product[NameChars];
    wchar_t maker[NameChars];
    wchar_t legal[NameChars];
    wchar_t description[DescriptionChars];
};
static_assert(sizeof(VersionRecord) == 1284, "version record");

CTelemetryLink g_link;

const wchar_t* Text(const wchar_t* text)
{
    return text ? text : NoText;
}

const wchar_t* ErrorText(WORD code)
{
    switch (code)
    {
    case CTelemetryLink::ErrorNone:
        return L"No error.";
    case CTelemetryLink::ErrorBurstPending:
        return L"Burst data pending.";
    case TelemetryStandin::ErrorNotConnected:
        return L"No connection to the vehicle.";
    default:
        return L"Transfer failed.";
    }
}

CCallRecord& Record()
{
    return g_link.Record();
}
} // namespace

extern "C" {

int WINAPI StandinControl(int op, UINT_PTR value, const void* data)
{
    return g_link.Control(op, value, data);
}

int WINAPI InitLinkBoth(const wchar_t* first, const wchar_t* second)
{
    Record().Add(L"initTelvaneCommunication@8(%ls,%ls)", Text(first), Text(second));
    return g_link.InitResult();
}

int WINAPI InitLinkFirst(const wchar_t* first)
{
    Record().Add(L"initTelvaneCommunication@4(%ls)", Text(first));
    return g_link.InitResult();
}

int WINAPI InitLinkBare()
{
    Record().Add(L"initTelvaneCommunication@0()");
    return g_link.InitResult();
}

int WINAPI InitLinkAnsi(const char* first)
{
    std::wstring wide = first ? std::wstring(first, first + std::strlen(first)) : NoText;
    Record().Add(L"initTelvaneCommunication@4(%ls)", wide.c_str());
    return g_link.InitResult();
}

int WINAPI startTelvaneCommunication()
{
    Record().Add(L"startTelvaneCommunication@0()");
    return g_link.Start();
}

int WINAPI endTelvaneCommunication()
{
    Record().Add(L"endTelvaneCommunication@0()");
    return 1;
}

int WINAPI deinitTelvaneCommunication()
{
    Record().Add(L"deinitTelvaneCommunication@0()");
    return 1;
}

int WINAPI enableNotifyMessage(HWND window, DWORD, UINT message)
{
    Record().Add(L"enableNotifyMessage@12(%x)", message);
    g_link.EnableNotify(window, message);
    return 1;
}

int WINAPI getTelvaneStatus(WORD* status)
{
    Record().Add(L"getTelvaneStatus@4()");
    *status = g_link.Status();
    return 1;
}

int WINAPI getTelvaneSyncObject(HANDLE* handle)
{
    Record().Add(L"getTelvaneSyncObject@4()");
    *handle = g_link.SyncObject();
    return 1;
}

int WINAPI getTelvaneVersionInfo(VersionRecord* record)
{
    Record().Add(L"getTelvaneVersionInfo@4()");
    std::memset(record, 0, sizeof(*record));
    record->version = TelemetryStandin::Version;
    std::wcscpy(record->product, L"Telemetry stand-in");
    std::wcscpy(record->maker, L"Sectorix tests");
    std::wcscpy(record->description, L"A simulated vehicle link for the tests");
    return 1;
}

int WINAPI getTelvaneError(WORD* code, wchar_t* text)
{
    Record().Add(L"getTelvaneError@8()");
    *code = g_link.Error();
    if (text)
        std::wcscpy(text, ErrorText(*code));
    return 1;
}

int WINAPI getTelvanePacketSize(UINT* size)
{
    Record().Add(L"getTelvanePacketSize@4()");
    *size = TelemetryStandin::PacketSize;
    return 1;
}

// Answers the data as the command's answer, so that a caller sees its
// arguments arrive in their places.
int WINAPI sendTelvaneCommand(UINT command, const BYTE* data, WORD* length, BYTE* answer)
{
    Record().Add(L"sendTelvaneCommand@16(%u,%u)", command, length ? *length : 0);
    if (data && length && answer)
        std::memcpy(answer, data, *length);
    return 1;
}

int WINAPI getMCardImageSize(DWORD* size)
{
    Record().Add(L"getMCardImageSize@4()");
    *size = static_cast<DWORD>(g_link.CardSize());
    return *size != 0;
}

int WINAPI getMCardImageSize64(ULONGLONG* size)
{
    Record().Add(L"getMCardImageSize64@4()");
    *size = g_link.CardSize();
    return *size != 0;
}

// Sector reads of the older forms; the product only asks for their presence.
int WINAPI getSectorData(DWORD first, BYTE*)
{
    Record().Add(L"getSectorData@8(%u)", first);
    return 0;
}

int WINAPI getSectorDataEx(DWORD first, UINT count, BYTE*, DWORD)
{
    Record().Add(L"getSectorDataEx@16(%u,%u)", first, count);
    return 0;
}

int WINAPI getSectorDataExA(DWORD first, UINT count, BYTE* buffer)
{
    Record().Add(L"getSectorDataExA@12(%u,%u)", first, count);
    return g_link.ReadSectors(buffer, first, count);
}

int WINAPI getSectorDataExB(UINT count, const DWORD* sectors, BYTE* buffer)
{
    Record().Add(L"getSectorDataExB@12(%u)", count);
    return g_link.ReadSectorList(buffer, count, sectors);
}

int WINAPI putSectorDataExA(DWORD first, UINT count, const BYTE* buffer)
{
    Record().Add(L"putSectorDataExA@12(%u,%u)", first, count);
    return g_link.WriteSectors(buffer, first, count);
}

int WINAPI restartMeasurement()
{
    Record().Add(L"restartMeasurement@0()");
    return 1;
}

int WINAPI endDataTransmit()
{
    Record().Add(L"endDataTransmit@0()");
    return 1;
}

int WINAPI reloginMemoryCard()
{
    Record().Add(L"reloginMemoryCard@0()");
    return 1;
}

int WINAPI putLogbookEntry(DWORD entry)
{
    Record().Add(L"putLogbookEntry@4(%u)", entry);
    return 1;
}

int WINAPI rebootBoardPC()
{
    Record().Add(L"rebootBoardPC@0()");
    return 1;
}

int WINAPI getTelvaneStep(BYTE* step, DWORD* value)
{
    Record().Add(L"getTelvaneStep@8()");
    *step = g_link.Step(value);
    return 1;
}

// The card init transfer of the burst group; only its presence is asked for.
int WINAPI getCardInitSize(LapInfo*)
{
    Record().Add(L"getCardInitSize@4()");
    return 0;
}

int WINAPI getCardInitData(DWORD offset, DWORD count, BYTE*)
{
    Record().Add(L"getCardInitData@12(%u,%u)", offset, count);
    return 0;
}

int WINAPI endCardInitTransmit()
{
    Record().Add(L"endCardInitTransmit@0()");
    return 1;
}

int WINAPI getLastLapSize(LapInfo* info)
{
    Record().Add(L"getLastLapSize@4()");
    return g_link.LapSize(info);
}

int WINAPI getLastLapData(DWORD offset, DWORD count, BYTE* buffer)
{
    Record().Add(L"getLastLapData@12(%u,%u)", offset, count);
    return g_link.LapData(offset, count, buffer);
}

int WINAPI endLastLapTransmit()
{
    Record().Add(L"endLastLapTransmit@0()");
    g_link.EndLap();
    return 1;
}

int WINAPI GetLogFileSize(LapInfo* info)
{
    Record().Add(L"GetLogFileSize@4()");
    return g_link.LogSize(info);
}

int WINAPI GetLogFileData(DWORD offset, DWORD count, BYTE* buffer)
{
    Record().Add(L"GetLogFileData@12(%u,%u)", offset, count);
    return g_link.LogData(offset, count, buffer);
}

int WINAPI EndLogFileTransmit()
{
    Record().Add(L"EndLogFileTransmit@0()");
    g_link.EndLog();
    return 1;
}

void WINAPI setSearchInterval(DWORD interval)
{
    Record().Add(L"setSearchInterval@4(%u)", interval);
}

} // extern "C"
