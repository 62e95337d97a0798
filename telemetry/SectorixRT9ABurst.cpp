#include "Sectorix/SectorixRT9ABurst.h"

#include "afx/ThreadAnsi.h"
#include "telemetry/TelemetryLibrary.h"

using namespace Sectorix;

IMPLEMENT_DYNAMIC(CSectorixRT9ABurst, CSectorix)

namespace
{
const wchar_t LibraryName[] = L"RT9Burst.DLL";
const unsigned short STATUS_BURST_CONNECTED = 0xF024;
const unsigned short STATUS_LINK_LOST = 0x0F04;
}

// The lap and log entries are never called; the library is only taken for
// a burst logger's when it has them all.
CSectorixRT9ABurst::CSectorixRT9ABurst(CWatchguard* pWatchguard)
    : CSectorix(pWatchguard, TypeRT9ABurst)
    , m_bValid(false)
    , m_bAnnounced(false)
{
    m_hModule = ::LoadLibraryW(LibraryName);
    if (!m_hModule)
        return;
    m_bValid = Resolve(L"initTelvaneCommunication", 4, m_pfnInitTelvaneCommunication) &&
               Resolve(L"deinitTelvaneCommunication", 0, m_pfnDeinitTelvaneCommunication) &&
               Resolve(L"startTelvaneCommunication", 0, m_pfnStartTelvaneCommunication) &&
               Resolve(L"endTelvaneCommunication", 0, m_pfnEndTelvaneCommunication) &&
               Resolve(L"getLastLapSize", 4, m_pfnGetLastLapSize) &&
               Resolve(L"getLastLapData", 12, m_pfnGetLastLapData) &&
               Resolve(L"endLastLapTransmit", 0, m_pfnEndLastLapTransmit) &&
               Resolve(L"enableNotifyMessage", 12, m_pfnEnableNotifyMessage) &&
               Resolve(L"GetLogFileSize", 4, m_pfnGetLogFileSize) &&
               Resolve(L"GetLogFileData", 12, m_pfnGetLogFileData) &&
               Resolve(L"EndLogFileTransmit", 0, m_pfnEndLogFileTransmit);
    Resolve(L"setSearchInterval", 4, m_pfnSetSearchInterval);
}

CSectorixRT9ABurst::~CSectorixRT9ABurst()
{
    if (m_hModule)
        ::FreeLibrary(m_hModule);
}

template <class TEntry>
bool CSectorixRT9ABurst::Resolve(const wchar_t* name, int argBytes, TEntry& entry)
{
    void* address = nullptr;
    bool found = GetProcAddress(name, argBytes, &address);
    entry = reinterpret_cast<TEntry>(address);
    return found;
}

bool CSectorixRT9ABurst::GetProcAddress(const wchar_t* name, int argBytes, void** out)
{
    *out = reinterpret_cast<void*>(GetDecoratedProcAddress(m_hModule, name, argBytes));
    return *out != nullptr;
}

void CSectorixRT9ABurst::EnableNotificationMessages(DWORD threadId, HWND hWnd, UINT message)
{
    m_dwNotifyThread = threadId;
    m_hNotifyWnd = hWnd;
    m_nNotifyMsg = message;
}

void CSectorixRT9ABurst::PostNotifyMessage(UINT wParam, LPARAM lParam)
{
    PostToTarget(m_hNotifyWnd, m_dwNotifyThread, m_nNotifyMsg, wParam, lParam);
}

void CSectorixRT9ABurst::SetSearchInterval(DWORD interval)
{
    if (m_pfnSetSearchInterval)
        m_pfnSetSearchInterval(interval);
}

// Statuses outside the link's own four reach the host but change nothing.
void CSectorixRT9ABurst::OnStatusChange(UINT status)
{
    switch (status)
    {
    case STATUS_CONNECTED:
    case STATUS_BURST_CONNECTED:
        m_bAnnounced = true;
        break;
    case STATUS_NOT_CONNECTED:
    case STATUS_LINK_LOST:
        m_bAnnounced = false;
        break;
    }
    PostNotifyMessage(status, reinterpret_cast<LPARAM>(this));
}

// The library takes its text in the thread's ANSI code page.
bool CSectorixRT9ABurst::StartLink(const wchar_t* first, const wchar_t*)
{
    return m_pfnInitTelvaneCommunication(ToThreadAnsi(first).c_str()) != 0 &&
           m_pfnStartTelvaneCommunication() != FALSE;
}

void CSectorixRT9ABurst::EndLink()
{
    if (!m_bValid)
        return;
    m_pfnEndTelvaneCommunication();
    m_pfnDeinitTelvaneCommunication();
}

void CSectorixRT9ABurst::EnableStatusMessages(HWND hWnd, UINT message)
{
    m_pfnEnableNotifyMessage(hWnd, 0, message);
}

bool CSectorixRT9ABurst::isFor(DWORD)
{
    return true;
}

CString CSectorixRT9ABurst::GetMediaText(int language)
{
    unsigned short status = STATUS_NOT_CONNECTED;
    TelvaneGetStatus(&status);
    return VehicleLinkText(language, status == STATUS_CONNECTED);
}

bool CSectorixRT9ABurst::TestMedia(bool)
{
    return false;
}

bool CSectorixRT9ABurst::Activate()
{
    return true;
}

bool CSectorixRT9ABurst::Deactivate()
{
    return true;
}

unsigned long long CSectorixRT9ABurst::GetCardSize()
{
    return 0;
}

bool CSectorixRT9ABurst::ReadSectorsA(BYTE*, DWORD, UINT)
{
    return false;
}

bool CSectorixRT9ABurst::ReadSectorsB(BYTE*, UINT, DWORD*)
{
    return false;
}

bool CSectorixRT9ABurst::WriteSectors(BYTE*, DWORD, UINT)
{
    return false;
}

bool CSectorixRT9ABurst::TelvaneGetStatus(unsigned short* status)
{
    *status = m_bAnnounced ? STATUS_CONNECTED : STATUS_NOT_CONNECTED;
    return true;
}

bool CSectorixRT9ABurst::TelvaneEndTransmit()
{
    return true;
}

bool CSectorixRT9ABurst::TelvaneRestartMeasurement()
{
    return true;
}

bool CSectorixRT9ABurst::TelvaneSendCommand(unsigned short, BYTE*, unsigned short*, BYTE*)
{
    return false;
}

bool CSectorixRT9ABurst::TelvaneGetPacketSize(UINT* size)
{
    *size = SectorSize;
    return true;
}

bool CSectorixRT9ABurst::TelvaneGetError(unsigned short*, wchar_t*)
{
    return false;
}

bool CSectorixRT9ABurst::TelvaneReloginMemoryCard()
{
    return false;
}

bool CSectorixRT9ABurst::TelvanePutLogbookEntry(DWORD)
{
    return false;
}
