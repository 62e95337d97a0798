#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

class CSectorixTelvane;
class CWatchguardSession;

// Copies every lap a telemetry link serves as the card, each under its own
// numbers, until the burst is over; a lap the link offered that could not
// be copied is named, with the lap file that keeps it.
class CLapCopier
{
public:
    CLapCopier(CWatchguardSession& session, const std::wstring& folder);

    // ExitSuccess when every lap offered was copied, else ExitFailed.
    int Run(CSectorixTelvane* pSource);

private:
    void CopyServed(CSectorixTelvane* pSource);
    void NameMissing();
    void Fail(const std::string& problem);
    std::wstring CopyName(LPARAM numbers) const;

    CWatchguardSession& m_session;
    std::wstring m_folder;
    std::wstring m_lapFolder;
    std::set<LPARAM> m_copied;
    std::set<LPARAM> m_served;
    size_t m_failures = 0;
};
