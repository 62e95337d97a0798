#include "CommandLine.h"

#include "Console.h"
#include "ToolError.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>

namespace
{
const DWORD DefaultTimeoutSeconds = 10;
// A day; beyond it the wait in milliseconds would not fit a DWORD anyway.
const DWORD MaxTimeoutSeconds = 86400;
const wchar_t LogFolderName[] = L"sectorix-logs";
const wchar_t DevicePrefix[] = L"\\\\.\\";
const int MaxPhysicalDrives = 64;

const char UsageText[] =
    "usage: sectorix-read --image FILE --out COPY [--rescue] [--log DIR] [--timeout SECONDS]\n"
    "       sectorix-read --drive E: --out COPY [--rescue] [--log DIR] [--timeout SECONDS]\n"
    "       sectorix-read --drive PhysicalDrive1 --out COPY [--rescue] [--log DIR]\n"
    "                     [--timeout SECONDS]\n"
    "       sectorix-read --lap LAP --out COPY [--rescue]\n"
    "       sectorix-read --list-laps FOLDER\n"
    "       sectorix-read --telemetry LINK --out FOLDER [--libraries DIR] [--log DIR]\n"
    "                     [--timeout SECONDS]\n"
    "       sectorix-read --image FILE | --drive E: --init INIT [--format]\n"
    "                     [--library CMDLL.DLL | CMRECDLL.DLL] [--libraries DIR]\n"
    "                     [--log DIR] [--timeout SECONDS]\n"
    "\n"
    "Copies a whole card, sector by sector, through Sectorix.dll to COPY and\n"
    "prints its size and SHA-256; from a telemetry link, every lap it sends,\n"
    "each to lap-FIRST-SECOND.img in FOLDER by the lap's numbers. With --init,\n"
    "initialises the card instead through the card library: formats it if\n"
    "asked (Ctrl+C cancels the format), writes INIT, reads it back and\n"
    "verifies it.\n"
    "  --image FILE       read a card image file\n"
    "  --drive E:         read the card in a removable drive\n"
    "  --drive PhysicalDrive1\n"
    "                     read the card on a physical disk that the card\n"
    "                     service serves\n"
    "  --telemetry LINK   take the laps of the Telvane link opened with LINK\n"
    "  --lap LAP          read a stored lap file as the card, with no link\n"
    "  --list-laps FOLDER list the lap files in FOLDER: numbers, size, whole or not\n"
    "  --rescue           copy what can be read: a sector that fails 3 reads is\n"
    "                     copied as zeros and listed in COPY.badsectors\n"
    "                     (FIRST-LAST a line); the list is empty when none failed\n"
    "  --libraries DIR    folder that holds telvane.dll or the card library\n"
    "                     (default: the search path)\n"
    "  --out COPY         the copy to write (replaced if it exists)\n"
    "  --init INIT        the card init file to write to the card\n"
    "  --format           overwrite the whole card before writing INIT\n"
    "  --library NAME     the card library, CMDLL.DLL (default) or CMRECDLL.DLL\n"
    "  --log DIR          folder of the library's daily log book\n"
    "                     (default: sectorix-logs in the temp folder)\n"
    "  --timeout SECONDS  how long to wait for the card or the first lap\n"
    "                     (default: 10)\n"
    "exit status: 0 copied (or initialised), 1 the card could not be read or\n"
    "             copied (or initialised, or its format was cancelled),\n"
    "             2 bad arguments, 3 no card within the timeout,\n"
    "             4 copied with --rescue, but sectors could not be read (zeros\n"
    "             in the copy), or --list-laps found a lap that is not whole\n";

CToolError BadArguments(const std::wstring& reason)
{
    return CToolError(ExitBadArguments, Utf8(reason));
}
}

CCommandLine::CCommandLine(int argc, wchar_t* argv[])
    : m_logFolder(DefaultLogFolder())
    , m_timeoutSeconds(DefaultTimeoutSeconds)
{
    for (int i = 1; i < argc; ++i)
    {
        std::wstring option = argv[i];
        if (option == L"--help" || option == L"-h")
        {
            m_bHelp = true;
            return;
        }
        if (option == L"--format")
        {
            m_bFormat = true;
            continue;
        }
        if (option == L"--rescue")
        {
            m_bRescue = true;
            continue;
        }
        if (i + 1 == argc)
            throw BadArguments(option.rfind(L"--", 0) == 0 ? option + L" needs a value" : L"unexpected " + option);
        Take(option, argv[++i]);
    }
    Check();
}

const char* CCommandLine::Usage()
{
    return UsageText;
}

void CCommandLine::Take(const std::wstring& option, const std::wstring& value)
{
    if (option == L"--image")
        m_image = value;
    else if (option == L"--drive")
        m_drive = DriveName(value);
    else if (option == L"--telemetry")
        m_telemetry = value;
    else if (option == L"--lap")
        m_lap = value;
    else if (option == L"--list-laps")
        m_lapFolder = value;
    else if (option == L"--libraries")
        m_libraries = value;
    else if (option == L"--out")
        m_copy = value;
    else if (option == L"--init")
        m_initFile = value;
    else if (option == L"--library")
        m_library = value;
    else if (option == L"--log")
        m_logFolder = value;
    else if (option == L"--timeout")
        m_timeoutSeconds = Seconds(value);
    else
        throw BadArguments(L"unknown option " + option);
}

void CCommandLine::Check()
{
    int sources = !m_image.empty() + !m_drive.empty() + !m_telemetry.empty() + !m_lap.empty() + !m_lapFolder.empty();
    if (sources != 1)
        throw BadArguments(L"give exactly one of --image, --drive, --telemetry, --lap and --list-laps");
    if (!m_lapFolder.empty() && (!m_copy.empty() || !m_initFile.empty() || m_bRescue))
        throw BadArguments(L"--list-laps only lists, with no --out, --init or --rescue");
    if (m_bRescue && (!m_telemetry.empty() || !m_initFile.empty()))
        throw BadArguments(L"--rescue goes with a copy of --image, --drive or --lap");
    if (!m_lapFolder.empty())
        return;
    if (m_initFile.empty())
    {
        if (m_copy.empty())
            throw BadArguments(L"--out is missing");
        if (m_bFormat || !m_library.empty())
            throw BadArguments(L"--format and --library go with --init");
        return;
    }
    if (!m_telemetry.empty() || !m_lap.empty() || !m_copy.empty())
        throw BadArguments(L"--init initialises the card of --image or --drive and writes no copy");
}

// "e", "e:" and "E:" all name drive E:; "PhysicalDrive1" and
// "\\.\PhysicalDrive1" name physical disk 1.
std::wstring CCommandLine::DriveName(const std::wstring& value)
{
    int disk = 0;
    wchar_t rest = 0;
    std::wstring name = value.rfind(DevicePrefix, 0) == 0 ? value.substr(wcslen(DevicePrefix)) : value;
    if (std::swscanf(name.c_str(), L"PhysicalDrive%d%lc", &disk, &rest) == 1 && disk >= 0 &&
        disk < MaxPhysicalDrives)
        return DevicePrefix + std::wstring(L"PhysicalDrive") + std::to_wstring(disk);
    bool bLetter = !value.empty() && value[0] < 0x80 && std::iswalpha(value[0]);
    if (!bLetter || value.size() > 2 || (value.size() == 2 && value[1] != L':'))
        throw BadArguments(L"--drive wants a drive letter such as E: or a disk such as PhysicalDrive1, not " + value);
    return std::wstring(1, static_cast<wchar_t>(std::towupper(value[0]))) + L":";
}

DWORD CCommandLine::Seconds(const std::wstring& value)
{
    wchar_t* end = nullptr;
    unsigned long seconds = std::wcstoul(value.c_str(), &end, 10);
    if (value.empty() || *end != L'\0' || value[0] == L'-' || seconds == 0 || seconds > MaxTimeoutSeconds)
        throw BadArguments(L"--timeout wants whole seconds from 1 to " + std::to_wstring(MaxTimeoutSeconds) +
                           L", not " + value);
    return static_cast<DWORD>(seconds);
}

std::wstring CCommandLine::DefaultLogFolder()
{
    wchar_t temp[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, length) + LogFolderName;
}
