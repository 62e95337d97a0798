#include "Sectorix/SectorixSPI.h"

#include "Sectorix/Watchguard.h"
#include "telemetry/TelemetryLibrary.h"

using namespace Sectorix;

IMPLEMENT_DYNAMIC(CSectorixSPI, CSectorix)

namespace
{
const wchar_t InitEntry[] = L"initTelvaneCommunication";
const wchar_t ImageSizeEntry[] = L"getMCardImageSize";
const wchar_t ImageSize64Entry[] = L"getMCardImageSize64";
}

// Every entry needed for reading the card is required; of the two
// image-size entries one suffices, and the burst entries count only as a
// whole group.
CSectorixSPI::CSectorixSPI(CWatchguard* pWatchguard, const wchar_t* dllName, eSectorixType type)
    : CSectorix(pWatchguard, type)
    , m_strDllName(dllName)
    , m_bValid(false)
    , m_bAnnounced(false)
{
    m_hModule = ::LoadLibraryW(dllName);
    if (!m_hModule)
        return;
    m_bValid = ResolveRequired();
    Resolve(L"putSectorDataExA", 12, m_pfnPutSectorDataExA);
    Resolve(L"enableNotifyMessage", 12, m_pfnEnableNotifyMessage);
    ResolveBurstGroup();
    if (m_pfnGetMCardImageSize)
        Resolve(ImageSize64Entry, 4, m_pfnGetMCardImageSize64);
    Resolve(L"reloginMemoryCard", 0, m_pfnReloginMemoryCard);
    Resolve(L"putLogbookEntry", 4, m_pfnPutLogbookEntry);
    Resolve(L"rebootBoardPC", 0, m_pfnRebootBoardPC);
    Resolve(L"GetLogFileSize", 4, m_pfnGetLogFileSize);
    Resolve(L"GetLogFileData", 12, m_pfnGetLogFileData);
    Resolve(L"EndLogFileTransmit", 0, m_pfnEndLogFileTransmit);
}

CSectorixSPI::~CSectorixSPI()
{
    if (m_hModule)
        ::FreeLibrary(m_hModule);
}

template <class TEntry>
bool CSectorixSPI::Resolve(const wchar_t* name, int argBytes, TEntry& entry)
{
    void* address = nullptr;
    bool found = GetProcAddress(name, argBytes, &address);
    entry = reinterpret_cast<TEntry>(address);
    return found;
}

bool CSectorixSPI::ResolveRequired()
{
    return ResolveInit() && Resolve(L"deinitTelvaneCommunication", 0, m_pfnDeinitTelvaneCommunication) &&
           Resolve(L"startTelvaneCommunication", 0, m_pfnStartTelvaneCommunication) &&
           Resolve(L"endTelvaneCommunication", 0, m_pfnEndTelvaneCommunication) &&
           Resolve(L"getSectorData", 8, m_pfnGetSectorData) &&
           Resolve(L"getSectorDataEx", 16, m_pfnGetSectorDataEx) &&
           Resolve(L"getSectorDataExA", 12, m_pfnGetSectorDataExA) &&
           Resolve(L"getSectorDataExB", 12, m_pfnGetSectorDataExB) &&
           Resolve(L"restartMeasurement", 0, m_pfnRestartMeasurement) &&
           Resolve(L"endDataTransmit", 0, m_pfnEndDataTransmit) &&
           Resolve(L"sendTelvaneCommand", 16, m_pfnSendTelvaneCommand) &&
           Resolve(L"getTelvanePacketSize", 4, m_pfnGetTelvanePacketSize) &&
           (Resolve(ImageSizeEntry, 4, m_pfnGetMCardImageSize) ||
            Resolve(ImageSize64Entry, 4, m_pfnGetMCardImageSize64)) &&
           Resolve(L"getTelvaneVersionInfo", 4, m_pfnGetTelvaneVersionInfo) &&
           Resolve(L"getTelvaneStatus", 4, m_pfnGetTelvaneStatus) &&
           Resolve(L"getTelvaneSyncObject", 4, m_pfnGetTelvaneSyncObject) &&
           Resolve(L"getTelvaneError", 8, m_pfnGetTelvaneError);
}

// The widest form the library has is the only one kept.
bool CSectorixSPI::ResolveInit()
{
    return Resolve(InitEntry, 8, m_pfnInitTelvaneCommunication8) ||
           Resolve(InitEntry, 4, m_pfnInitTelvaneCommunication4) ||
           Resolve(InitEntry, 0, m_pfnInitTelvaneCommunication0);
}

// Without the whole group the library offers no burst mode, which the
// missing step entry says.
void CSectorixSPI::ResolveBurstGroup()
{
    bool complete = Resolve(L"getTelvaneStep", 8, m_pfnGetTelvaneStep) &&
                    Resolve(L"getCardInitSize", 4, m_pfnGetCardInitSize) &&
                    Resolve(L"getCardInitData", 12, m_pfnGetCardInitData) &&
                    Resolve(L"endCardInitTransmit", 0, m_pfnEndCardInitTransmit) &&
                    Resolve(L"getLastLapSize", 4, m_pfnGetLastLapSize) &&
                    Resolve(L"getLastLapData", 12, m_pfnGetLastLapData) &&
                    Resolve(L"endLastLapTransmit", 0, m_pfnEndLastLapTransmit);
    if (!complete)
        m_pfnGetTelvaneStep = nullptr;
}

bool CSectorixSPI::GetProcAddress(const wchar_t* name, int argBytes, void** out)
{
    *out = reinterpret_cast<void*>(GetDecoratedProcAddress(m_hModule, name, argBytes));
    return *out != nullptr;
}

int CSectorixSPI::initTelvaneCommunication(const wchar_t* first, const wchar_t* second)
{
    if (m_pfnInitTelvaneCommunication8)
        return m_pfnInitTelvaneCommunication8(first, second);
    if (m_pfnInitTelvaneCommunication4)
        return m_pfnInitTelvaneCommunication4(first);
    return m_pfnInitTelvaneCommunication0 ? m_pfnInitTelvaneCommunication0() : 0;
}

// The version goes to the target once, when the target is set.
void CSectorixSPI::EnableNotificationMessages(DWORD threadId, HWND hWnd, UINT message)
{
    if (threadId == m_dwNotifyThread && hWnd == m_hNotifyWnd && message == m_nNotifyMsg)
        return;
    m_dwNotifyThread = threadId;
    m_hNotifyWnd = hWnd;
    m_nNotifyMsg = message;
    if (!m_bValid)
        return;
    _telvane_version record = {};
    DWORD version = m_pfnGetTelvaneVersionInfo(&record) ? record.version : 0;
    PostNotifyMessage(NOTIFY_VERSION, version);
}

void CSectorixSPI::PostNotifyMessage(UINT wParam, LPARAM lParam)
{
    PostToTarget(m_hNotifyWnd, m_dwNotifyThread, m_nNotifyMsg, wParam, lParam);
}

// A link that goes while another source is active stays announced, so the
// host hears of its loss only once that source no longer reads.
void CSectorixSPI::CardInsertRemove(bool inserted)
{
    if (inserted)
    {
        if (!m_bAnnounced && m_pWatchguard->IsEnabled())
        {
            m_bAnnounced = true;
            m_pWatchguard->SendNotification(MediaInserted, this);
        }
        return;
    }
    CSectorix* pActive = m_pWatchguard->GetActiveSectorix();
    if (m_bAnnounced && (!pActive || pActive == this))
    {
        m_pWatchguard->SendNotification(MediaRemoved, this);
        m_bAnnounced = false;
    }
}

void CSectorixSPI::OnStatusChange(UINT status)
{
    PostNotifyMessage(status, reinterpret_cast<LPARAM>(this));
}

bool CSectorixSPI::StartLink(const wchar_t* first, const wchar_t* second)
{
    return initTelvaneCommunication(first, second) != 0 && m_pfnStartTelvaneCommunication() != FALSE;
}

void CSectorixSPI::EndLink()
{
    if (!m_bValid)
        return;
    m_pfnEndTelvaneCommunication();
    m_pfnDeinitTelvaneCommunication();
}

void CSectorixSPI::EnableStatusMessages(HWND hWnd, UINT message)
{
    if (m_pfnEnableNotifyMessage)
        m_pfnEnableNotifyMessage(hWnd, 0, message);
}

HANDLE CSectorixSPI::GetSyncObject()
{
    HANDLE hSync = nullptr;
    return m_pfnGetTelvaneSyncObject(&hSync) ? hSync : nullptr;
}

bool CSectorixSPI::GetLibraryStatus(unsigned short* status)
{
    return m_pfnGetTelvaneStatus(status) != FALSE;
}

bool CSectorixSPI::RebootBoardPC()
{
    return m_pfnRebootBoardPC && m_pfnRebootBoardPC();
}

bool CSectorixSPI::isFor(DWORD)
{
    return true;
}

CString CSectorixSPI::GetMediaText(int language)
{
    unsigned short status = 0;
    return VehicleLinkText(language, GetLibraryStatus(&status) && status == STATUS_CONNECTED);
}

bool CSectorixSPI::TestMedia(bool)
{
    return false;
}

// The link needs nothing before the first read.
bool CSectorixSPI::Activate()
{
    return true;
}

unsigned long long CSectorixSPI::GetCardSize()
{
    unsigned long long size = 0;
    if (!m_pfnGetMCardImageSize64 || !m_pfnGetMCardImageSize64(&size))
        return 0;
    return size;
}

bool CSectorixSPI::ReadSectorsA(BYTE* buffer, DWORD firstSector, UINT count)
{
    return m_pfnGetSectorDataExA(firstSector, count, buffer) != FALSE;
}

bool CSectorixSPI::ReadSectorsB(BYTE* buffer, UINT count, DWORD* sectors)
{
    return m_pfnGetSectorDataExB(count, sectors, buffer) != FALSE;
}

bool CSectorixSPI::WriteSectors(BYTE* buffer, DWORD firstSector, UINT count)
{
    return m_pfnPutSectorDataExA && m_pfnPutSectorDataExA(firstSector, count, buffer);
}

bool CSectorixSPI::TelvaneGetStatus(unsigned short* status)
{
    return GetLibraryStatus(status);
}

bool CSectorixSPI::TelvaneEndTransmit()
{
    return IsBurstMode() || m_pfnEndDataTransmit();
}

bool CSectorixSPI::TelvaneRestartMeasurement()
{
    return IsBurstMode() || m_pfnRestartMeasurement();
}

bool CSectorixSPI::TelvaneSendCommand(unsigned short command, BYTE* data, unsigned short* length, BYTE* answer)
{
    return m_pfnSendTelvaneCommand(command, data, length, answer) != FALSE;
}

// Burst data is served in card sectors.
bool CSectorixSPI::TelvaneGetPacketSize(UINT* size)
{
    if (!IsBurstMode())
        return m_pfnGetTelvanePacketSize(size) != FALSE;
    *size = SectorSize;
    return true;
}

bool CSectorixSPI::TelvaneGetError(unsigned short* code, wchar_t* text)
{
    return m_pfnGetTelvaneError(code, text) != FALSE;
}

bool CSectorixSPI::TelvaneReloginMemoryCard()
{
    return !m_pfnReloginMemoryCard || m_pfnReloginMemoryCard();
}

bool CSectorixSPI::TelvanePutLogbookEntry(DWORD entry)
{
    return m_pfnPutLogbookEntry && m_pfnPutLogbookEntry(entry);
}
