#pragma once

#include <windows.h>

#include <string>

// The options of sectorix-read, checked as a whole: one card source (an
// image file, a drive, the laps of a telemetry link or a stored lap), or a
// folder of laps to list; where the copy goes and whether it goes on past
// unreadable sectors, or the init file that the card library writes to the
// card instead; the log folder and the wait.
class CCommandLine
{
public:
    // Throws CToolError(ExitBadArguments) with the reason.
    CCommandLine(int argc, wchar_t* argv[]);

    // False when --help or --version was answered.
    bool WantsRun() const { return m_bRun; }
    const std::wstring& Image() const { return m_image; }
    const std::wstring& Drive() const { return m_drive; }
    const std::wstring& Telemetry() const { return m_telemetry; }
    const std::wstring& Lap() const { return m_lap; }
    const std::wstring& LapFolder() const { return m_lapFolder; }
    bool Rescue() const { return m_bRescue; }
    const std::wstring& Libraries() const { return m_libraries; }
    const std::wstring& Copy() const { return m_copy; }
    const std::wstring& InitFile() const { return m_initFile; }
    const std::wstring& Library() const { return m_library; }
    bool Format() const { return m_bFormat; }
    bool Confirmed() const { return m_bYes; }
    const std::wstring& LogFolder() const { return m_logFolder; }
    DWORD TimeoutSeconds() const { return m_timeoutSeconds; }

private:
    void Check();
    void CheckListing() const;
    static std::wstring DriveName(const std::wstring& value);
    static DWORD Seconds(const std::wstring& value);

    bool m_bRun = false;
    std::wstring m_image;
    std::wstring m_drive;
    std::wstring m_telemetry;
    std::wstring m_lap;
    std::wstring m_lapFolder;
    bool m_bRescue = false;
    std::wstring m_libraries;
    std::wstring m_copy;
    std::wstring m_initFile;
    std::wstring m_library;
    bool m_bFormat = false;
    bool m_bYes = false;
    bool m_bQuiet = false;
    std::wstring m_logFolder;
    DWORD m_timeoutSeconds;
};
