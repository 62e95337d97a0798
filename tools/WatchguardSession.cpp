#include "WatchguardSession.h"

#include "Console.h"
#include "ToolError.h"

#include "Sectorix/Sectorix.h"
#include "Sectorix/SectorixApi.h"

namespace
{
const UINT NotifyMessage = WM_APP + 1;
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
    auto pfnInit = reinterpret_cast<PFN_InitWatchguard>(
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
        throw CToolError(ExitNoCard, Utf8(drive) + " is not a removable drive");
    return WaitForCard([pDrive](CSectorix* pSource) { return pSource == pDrive; }, drive, timeoutSeconds);
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
    DWORD start = ::GetTickCount();
    for (;;)
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            pSource = reinterpret_cast<CSectorix*>(msg.lParam);
            if (msg.message == NotifyMessage && msg.wParam == MediaInserted && accept(pSource))
                return true;
            ::DispatchMessageW(&msg);
        }
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMilliseconds)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMilliseconds - elapsed, QS_ALLINPUT);
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
