#include "CommandLine.h"

#include "Console.h"
#include "OptionParser.h"
#include "ToolError.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <utility>

namespace
{
const DWORD DefaultTimeoutSeconds = 10;
// A day; beyond it the wait in milliseconds would not fit a DWORD anyway.
const DWORD MaxTimeoutSeconds = 86400;
const wchar_t DevicePrefix[] = L"\\\\.\\";
const int MaxPhysicalDrives = 64;

const char ToolName[] = "sectorix-read";
const char UsageText[] =
    "usage: sectorix-read --image FILE --out COPY [--rescue] [OPTION...]\n"
    "       sectorix-read --drive E: | PhysicalDrive1 --out COPY [--rescue] [OPTION...]\n"
    "       sectorix-read --lap LAP --out COPY [--rescue] [OPTION...]\n"
    "       sectorix-read --list-laps FOLDER [OPTION...]\n"
    "       sectorix-read --telemetry LINK --out FOLDER [--libraries DIR] [OPTION...]\n"
    "       sectorix-read --image FILE | --drive E: --init INIT [--format --yes]\n"
    "                     [--library CMDLL.DLL | CMRECDLL.DLL] [--libraries DIR] [OPTION...]\n"
    "\n"
    "Copies a whole card, sector by sector, through Sectorix.dll to COPY and\n"
    "prints its SHA-256 as sha256sum does; from a telemetry link, every lap it\n"
    "sends, each to lap-FIRST-SECOND.img in FOLDER by the lap's numbers. COPY\n"
    "is replaced only by a whole copy. With --init, initialises the card\n"
    "instead through the card library: formats it if asked, writes INIT, reads\n"
    "it back and verifies it.\n"
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
    "  --out COPY         the copy to write (replaced once the copy is whole)\n"
    "  --init INIT        the card init file to write to the card\n"
    "  --format           overwrite the whole card before writing INIT\n"
    "  --yes              format without asking (needed where no one can answer)\n"
    "  --library NAME     the card library, CMDLL.DLL (default) or CMRECDLL.DLL\n"
    "OPTION:\n"
    "  --log DIR          folder of the library's daily log, made if missing\n"
    "                     (default: sectorix-logs in the temp folder)\n"
    "  --timeout SECONDS  how long to wait for the card or the first lap\n"
    "                     (default: 10)\n"
    "  --quiet            no progress and no messages, only the SHA-256 lines\n"
    "                     and errors\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "exit status: 0 copied (or initialised), 1 the card could not be read or\n"
    "             copied (or initialised), or a lap could not be copied,\n"
    "             2 bad arguments, 3 no card within the timeout,\n"
    "             4 copied with --rescue, but sectors could not be read (zeros\n"
    "             in the copy), or --list-laps found a lap that is not whole,\n"
    "             130 stopped by Ctrl+C, Ctrl+Break or the closing console\n";

CToolError BadArguments(const std::wstring& reason)
{
    return CToolError(ExitBadArguments, Utf8(reason));
}
}

CCommandLine::CCommandLine(int argc, wchar_t* argv[])
    : m_timeoutSeconds(DefaultTimeoutSeconds)
{
    std::wstring drive;
    std::wstring timeout;
    COptionParser parser(ToolName, UsageText);
    parser.AddValue(L"--image", m_image);
    parser.AddValue(L"--drive", drive);
    parser.AddValue(L"--telemetry", m_telemetry);
    parser.AddValue(L"--lap", m_lap);
    parser.AddValue(L"--list-laps", m_lapFolder);
    parser.AddFlag(L"--rescue", m_bRescue);
    parser.AddValue(L"--libraries", m_libraries);
    parser.AddValue(L"--out", m_copy);
    parser.AddValue(L"--init", m_initFile);
    parser.AddFlag(L"--format", m_bFormat);
    parser.AddFlag(L"--yes", m_bYes);
    parser.AddValue(L"--library", m_library);
    parser.AddValue(L"--log", m_logFolder);
    parser.AddValue(L"--timeout", timeout);
    parser.AddFlag(L"--quiet", m_bQuiet);
    m_bRun = parser.Parse(argc, argv);
    if (!m_bRun)
        return;
    if (!drive.empty())
        m_drive = DriveName(drive);
    if (!timeout.empty())
        m_timeoutSeconds = Seconds(timeout);
    Check();
    SetQuiet(m_bQuiet);
}

void CCommandLine::Check()
{
    int sources = !m_image.empty() + !m_drive.empty() + !m_telemetry.empty() + !m_lap.empty() + !m_lapFolder.empty();
    if (sources != 1)
        throw BadArguments(L"give exactly one of --image, --drive, --telemetry, --lap and --list-laps");
    if (!m_lapFolder.empty())
    {
        CheckListing();
        return;
    }
    if (m_bRescue && (!m_telemetry.empty() || !m_initFile.empty()))
        throw BadArguments(L"--rescue goes with a copy of --image, --drive or --lap");
    if (!m_libraries.empty() && m_telemetry.empty() && m_initFile.empty())
        throw BadArguments(L"--libraries goes with --telemetry or --init, which load libraries from it");
    if (m_initFile.empty())
    {
        if (m_copy.empty())
            throw BadArguments(L"--out is missing");
        if (m_bFormat || m_bYes || !m_library.empty())
            throw BadArguments(L"--format, --yes and --library go with --init");
        return;
    }
    if (!m_telemetry.empty() || !m_lap.empty() || !m_copy.empty())
        throw BadArguments(L"--init initialises the card of --image or --drive and writes no copy");
    if (m_bYes && !m_bFormat)
        throw BadArguments(L"--yes confirms --format and goes with it");
}

// Listing reads the lap files alone: it writes nothing and loads nothing,
// so an option of another operation is a mistake to point out, not to pass
// over.
void CCommandLine::CheckListing() const
{
    const std::pair<const wchar_t*, bool> others[] = {
        { L"--out", !m_copy.empty() },   { L"--init", !m_initFile.empty() },     { L"--rescue", m_bRescue },
        { L"--format", m_bFormat },      { L"--yes", m_bYes },                    { L"--library", !m_library.empty() },
        { L"--libraries", !m_libraries.empty() },
    };
    for (const auto& other : others)
    {
        if (other.second)
            throw BadArguments(std::wstring(L"--list-laps only lists and takes no ") + other.first);
    }
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
