#pragma once

#include "Sectorix/Watchguard.h"

#include <functional>
#include <set>
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
    // The Telvane source once it has a first lap, its library looked for in
    // the folder given (or on the search path when it is empty).
    CSectorix* WaitForLaps(const std::wstring& link, const std::wstring& libraries, DWORD timeoutSeconds);
    // The numbers, (first << 16) | second, of every lap the link stored
    // whole and of every lap it could not store, as told so far.
    const std::set<LPARAM>& LapsStored();
    const std::set<LPARAM>& LapsNotStored();
    // Waits for the card and the laps end early once the handle is
    // signalled, with CToolError(ExitInterrupted).
    void StopWaitsOn(HANDLE hStop) { m_hStop = hStop; }
    // Outside libraries are looked for in the folder first (none: the
    // search path alone); throws CToolError(ExitFailed) when it cannot be.
    void SearchLibrariesIn(const std::wstring& folder);

    // Throws CToolError(ExitFailed) when the watchguard thread does not end.
    void Stop();

private:
    typedef std::function<bool(CSectorix*)> SourceFilter;

    bool WaitForMediaInserted(const SourceFilter& accept, DWORD timeoutMilliseconds, CSectorix*& pSource);
    bool PumpUntil(const std::function<bool(const MSG&)>& found, DWORD timeoutMilliseconds);
    bool Take(const MSG& msg);
    CSectorix* WaitForCard(const SourceFilter& accept, const std::wstring& where, DWORD timeoutSeconds);
    bool TryStop();

    CWatchguard* m_pWatchguard = nullptr;
    HANDLE m_hStop = nullptr;
    std::set<LPARAM> m_lapsStored;
    std::set<LPARAM> m_lapsNotStored;
};
