#pragma once

#include "Sectorix/Watchguard.h"

#include <functional>
#include <string>

// Sectorix.dll's watchguard as a host runs it: started through the flat
// export, notifications posted to the calling thread, stopped by its owner.
// Every member is called on the thread that made the session.
class CWatchguardSession
{
public:
    // Throws CToolError(ExitFailed) when the watchguard does not start.
    explicit CWatchguardSession(const std::wstring& logFolder);
    ~CWatchguardSession();

    CWatchguardSession(const CWatchguardSession&) = delete;
    CWatchguardSession& operator=(const CWatchguardSession&) = delete;

    CWatchguard* Watchguard() const { return m_pWatchguard; }

    // The source once it reports a card; throws CToolError(ExitNoCard) when
    // none comes within the time.
    CSectorix* WaitForImage(const std::wstring& path, DWORD timeoutSeconds);
    CSectorix* WaitForDrive(const std::wstring& drive, DWORD timeoutSeconds);

    // Throws CToolError(ExitFailed) when the watchguard thread does not end.
    void Stop();

private:
    typedef std::function<bool(CSectorix*)> SourceFilter;

    bool WaitForMediaInserted(const SourceFilter& accept, DWORD timeoutMilliseconds, CSectorix*& pSource);
    CSectorix* WaitForCard(const SourceFilter& accept, const std::wstring& where, DWORD timeoutSeconds);
    bool TryStop();

    CWatchguard* m_pWatchguard = nullptr;
};
