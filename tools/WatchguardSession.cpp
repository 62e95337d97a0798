#include "WatchguardSession.h"

#include "Console.h"
#include "ToolError.h"

#include "Sectorix/Sectorix.h"
#include "Sectorix/SectorixApi.h"
#include "Sectorix/SectorixTelvane.h"

namespace
{
const UINT NotifyMessage = WM_APP + 1;
const UINT LinkMessage = WM_APP + 2;
const DWORD StopTimeout = 5000;
const DWORD MillisecondsPerSecond = 1000;

#ifdef _WIN64
const char InitWatchguardName[] = "InitWatchguard";
#else
const char InitWatchguardName[] = "_InitWatchguard@0";
#endif

CWatchguard* StartWatchguard()
{
    HMODULE hSectorix = ::GetModuleHandleW(L"Sectorix.dll");
    auto pfnInit = reinterpret_cast<SECTORIX_PFN_InitWatchguard>(
        reinterpret_cast<void*>(::GetProcAddress(hSectorix, InitWatchguardName)));
    if (!pfnInit)
        throw CToolError(ExitFailed, std::string("Sectorix.dll does not export ") + InitWatchguardName);
    CWatchguard* pWatchguard = pfnInit();
    if (!pWatchguard)
        throw CToolError(ExitFailed, "the watchguard of Sectorix.dll did not start");
    return pWatchguard;
}

std::wstring FullPath(const std::wstring& path)
{
    DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(length, L'\0');
    length = ::GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
    if (length == 0)
        return path;
    full.resize(length);
    return full;
}
}

// The queue exists and the notifications are aimed at it before any source
// can report a card.
CWatchguardSession::CWatchguardSession(const std::wstring& logFolder)
{
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    m_pWatchguard = StartWatchguard();
    m_pWatchguard->SetLogFolder(CString(logFolder.c_str()));
    m_pWatchguard->EnableNotificationMessages(::GetCurrentThreadId(), nullptr, NotifyMessage);
}

CWatchguardSession::~CWatchguardSession()
{
    TryStop();
}

CSectorix* CWatchguardSession::WaitForImage(const std::wstring& path, DWORD timeoutSeconds)
{
    std::wstring full = FullPath(path);
    if (::GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES)
        throw CToolError(ExitFailed, "cannot read the image " + Utf8(path) + ": " + SystemMessage(::GetLastError()));
    if (!m_pWatchguard->EnableImageFile(full.c_str()))
        throw CToolError(ExitFailed, "Sectorix.dll did not take the image " + Utf8(path));
    auto isImage = [](CSectorix* pSource) { return pSource->GetSectorixType() == TypeImageFile; };
    return WaitForCard(isImage, path, timeoutSeconds);
}

CSectorix* CWatchguardSession::WaitForDrive(const std::wstring& drive, DWORD timeoutSeconds)
{
    if (!m_pWatchguard->EnableDrives(true))
        throw CToolError(ExitFailed, "drive sources are in use by another process");
    CSectorix* pDrive = m_pWatchguard->GetSectorix(drive.c_str());
    if (!pDrive)
        throw CToolError(ExitFailed, Utf8(drive) + " is not a removable drive");
    return WaitForCard([pDrive](CSectorix* pSource) { return pSource == pDrive; }, drive, timeoutSeconds);
}

// The link's laps announce themselves as a card once the first is stored.
CSectorix* CWatchguardSession::WaitForLaps(const std::wstring& link, const std::wstring& libraries,
                                           DWORD timeoutSeconds)
{
    SearchLibrariesIn(libraries);
    if (!m_pWatchguard->EnableTelvane(true, link.c_str(), nullptr, ::GetCurrentThreadId(), nullptr, LinkMessage))
        throw CToolError(ExitFailed, "the telemetry link " + Utf8(link) +
                                         " could not be opened (telvane.dll missing, unusable or in use)");
    auto isTelvane = [](CSectorix* pSource) { return pSource->IsKindOf(RUNTIME_CLASS(CSectorixTelvane)); };
    return WaitForCard(isTelvane, L"the telemetry link " + link, timeoutSeconds);
}

void CWatchguardSession::SearchLibrariesIn(const std::wstring& folder)
{
    if (!folder.empty() && !::SetDllDirectoryW(folder.c_str()))
        throw CToolError(ExitFailed, "cannot look for libraries in " + Utf8(folder) + ": " +
                                         SystemMessage(::GetLastError()));
}

const std::set<LPARAM>& CWatchguardSession::LapsStored()
{
    PumpUntil([](const MSG&) { return false; }, 0);
    return m_lapsStored;
}

const std::set<LPARAM>& CWatchguardSession::LapsNotStored()
{
    PumpUntil([](const MSG&) { return false; }, 0);
    return m_lapsNotStored;
}

// Keeps the numbers of each finished lap, whatever the tool is waiting for.
bool CWatchguardSession::Take(const MSG& msg)
{
    if (msg.message != LinkMessage)
        return false;
    if (msg.wParam == Sectorix::NOTIFY_LAP_DONE)
        m_lapsStored.insert(msg.lParam);
    else if (msg.wParam == Sectorix::NOTIFY_LAP_FAILED)
        m_lapsNotStored.insert(msg.lParam);
    return true;
}

CSectorix* CWatchguardSession::WaitForCard(const SourceFilter& accept, const std::wstring& where,
                                           DWORD timeoutSeconds)
{
    CSectorix* pSource = nullptr;
    if (!WaitForMediaInserted(accept, timeoutSeconds * MillisecondsPerSecond, pSource))
        throw CToolError(ExitNoCard, "no card found in " + Utf8(where) + " within " + std::to_string(timeoutSeconds) +
                                         " s");
    return pSource;
}

bool CWatchguardSession::WaitForMediaInserted(const SourceFilter& accept, DWORD timeoutMilliseconds,
                                              CSectorix*& pSource)
{
    return PumpUntil(
        [&](const MSG& msg) {
            pSource = reinterpret_cast<CSectorix*>(msg.lParam);
            return msg.message == NotifyMessage && msg.wParam == MediaInserted && accept(pSource);
        },
        timeoutMilliseconds);
}

// Takes this thread's messages until one is found or the time runs out.
bool CWatchguardSession::PumpUntil(const std::function<bool(const MSG&)>& found, DWORD timeoutMilliseconds)
{
    DWORD start = ::GetTickCount();
    for (;;)
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            bool taken = Take(msg);
            if (found(msg))
                return true;
            if (!taken)
                ::DispatchMessageW(&msg);
        }
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMilliseconds)
            return false;
        DWORD stops = m_hStop ? 1 : 0;
        if (::MsgWaitForMultipleObjects(stops, &m_hStop, FALSE, timeoutMilliseconds - elapsed, QS_ALLINPUT) ==
            WAIT_OBJECT_0 && stops)
            throw CToolError(ExitInterrupted, "nothing was written");
    }
}

void CWatchguardSession::Stop()
{
    if (!TryStop())
        throw CToolError(ExitFailed, "the watchguard did not stop within " + std::to_string(StopTimeout) + " ms");
}

// A watchguard that does not end is left running rather than deleted under
// its own thread.
bool CWatchguardSession::TryStop()
{
    if (!m_pWatchguard)
        return true;
    m_pWatchguard->EnableNotificationMessages(0, nullptr, 0);
    ::PostThreadMessageW(m_pWatchguard->m_nThreadID, WM_CLOSE, 0, 0);
    bool bEnded = ::WaitForSingleObject(m_pWatchguard->m_hThread, StopTimeout) == WAIT_OBJECT_0;
    if (bEnded)
        delete m_pWatchguard;
    m_pWatchguard = nullptr;
    return bEnded;
}
