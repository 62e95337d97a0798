// sectorix-read: copies a whole card through Sectorix.dll as a host would
// read it, and prints what it read (size and SHA-256), so the copy can be
// checked against the card.
#include "ActiveCard.h"
#include "CardCopier.h"
#include "CardInitializer.h"
#include "CommandLine.h"
#include "Console.h"
#include "InitFileCheck.h"
#include "Interruption.h"
#include "LapCard.h"
#include "LapCopier.h"
#include "LapList.h"
#include "OutputFile.h"
#include "RescueCopier.h"
#include "ToolError.h"
#include "ToolMain.h"
#include "WatchguardSession.h"

#include "Sectorix/CSMDLL.h"
#include "Sectorix/SectorixDefs.h"
#include "Sectorix/SectorixService.h"
#include "Sectorix/SectorixTelvane.h"

#include <cstdio>
#include <cwctype>

namespace
{
const char ToolName[] = "sectorix-read";
const wchar_t DefaultCardLibrary[] = L"CMDLL.DLL";
const wchar_t RootFolder[] = L":\\";
const size_t AnswerSize = 16;

std::string Bytes(unsigned long long bytes)
{
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

// What the library would only find out after its wait, or not at all.
void CheckImage(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        throw CToolError(ExitFailed, "cannot read the image " + Utf8(path) + ": " + SystemMessage(::GetLastError()));
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        throw CToolError(ExitFailed, Utf8(path) + " is a folder, not a card image");
    unsigned long long size = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    if (size == 0)
        throw CToolError(ExitFailed, "the image " + Utf8(path) + " is empty");
    unsigned long long rest = size % Sectorix::SectorSize;
    if (rest != 0)
        throw CToolError(ExitFailed, "the image " + Utf8(path) + " is " + Bytes(size) + ", not whole " +
                                         std::to_string(Sectorix::SectorSize) + "-byte sectors; if it was cut " +
                                         "short, pad it with zeros to " + Bytes(size - rest + Sectorix::SectorSize) +
                                         " to copy it");
}

void CheckDriveLetter(const std::wstring& drive)
{
    if (drive.size() != 2)
        return;
    std::wstring root = drive.substr(0, 1) + RootFolder;
    switch (::GetDriveTypeW(root.c_str()))
    {
    case DRIVE_FIXED:
        throw CToolError(ExitFailed, Utf8(drive) + " is a fixed disk, not a card; give the drive letter of the " +
                                         "card reader");
    case DRIVE_REMOTE:
        throw CToolError(ExitFailed, Utf8(drive) + " is a network drive, not a card");
    case DRIVE_CDROM:
        throw CToolError(ExitFailed, Utf8(drive) + " is a CD or DVD drive, not a card");
    case DRIVE_NO_ROOT_DIR:
        throw CToolError(ExitFailed, "there is no drive " + Utf8(drive) + "; give the drive letter of the card reader");
    default:
        break;
    }
}

void CheckLapFile(const std::wstring& path)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CToolError(ExitFailed, Utf8(path) + " is a folder, not a lap file; --list-laps lists the laps in it");
}

void CheckBeforeStart(const CCommandLine& options)
{
    if (!options.Image().empty())
        CheckImage(options.Image());
    if (!options.Lap().empty())
        CheckLapFile(options.Lap());
    if (!options.Drive().empty())
        CheckDriveLetter(options.Drive());
    if (!options.Telemetry().empty())
        COutputFile::CheckWritableFolder(options.Copy());
    else if (!options.Copy().empty())
        COutputFile::CheckTarget(options.Copy(), options.Image().empty() ? options.Lap() : options.Image());
    if (options.Rescue())
        COutputFile::CheckTarget(CRescueCopier::ListPath(options.Copy()));
    if (options.InitFile().empty())
        return;
    CheckInitFile(options.InitFile(), options.Library().empty() ? DefaultCardLibrary : options.Library());
    if (options.Format() && !options.Confirmed() && !IsTerminal(stdin))
        throw CToolError(ExitBadArguments, "--format overwrites the whole card: confirm it with --yes");
}

// Nothing is written to the card unless the person at the console says so.
void ConfirmFormat(const std::wstring& where, unsigned long long size)
{
    WriteText(stderr, "format the card in " + Utf8(where) + " (" + Bytes(size) +
                          ")? Everything on it is lost. Type yes to go on: ");
    char answer[AnswerSize] = {};
    if (!std::fgets(answer, sizeof(answer), stdin) || std::string(answer).substr(0, 3) != "yes")
        throw CToolError(ExitFailed, "the card was not formatted and is as it was");
}

void Copy(CCardReader& card, const std::wstring& copy)
{
    CCardCopier copier(card);
    copier.CopyTo(copy);
    copier.Report(copy);
}

// What cannot be read is zeros in the copy, and the status says so.
int Rescue(CCardReader& card, const std::wstring& copy)
{
    CRescueCopier copier(card);
    copier.CopyTo(copy);
    copier.Report(copy);
    return copier.IsComplete() ? ExitSuccess : ExitIncomplete;
}

// A stored lap needs no link, so no watchguard either.
int CopyLap(const CCommandLine& options)
{
    CLapCard lap(options.Lap());
    Say("reading the card in the lap file " + Utf8(options.Lap()));
    if (options.Rescue())
        return Rescue(lap, options.Copy());
    Copy(lap, options.Copy());
    return ExitSuccess;
}

int CopyLaps(CWatchguardSession& session, const CCommandLine& options)
{
    const std::wstring& link = options.Telemetry();
    CSectorix* pSource = session.WaitForLaps(link, options.Libraries(), options.TimeoutSeconds());
    Say("reading the laps of the telemetry link " + Utf8(link));
    return CLapCopier(session, options.Copy()).Run(static_cast<CSectorixTelvane*>(pSource));
}

// The card is opened as for a copy, and closed and deactivated before the
// watchguard stops; the card library goes last.
int InitializeCard(CWatchguardSession& session, CSectorix* pSource, const std::wstring& where,
                   const CCommandLine& options)
{
    std::wstring library = options.Library().empty() ? DefaultCardLibrary : options.Library();
    session.SearchLibrariesIn(options.Libraries());
    if (!CCSMDLL::SelectCSMDLL(library.c_str()))
        throw CToolError(ExitBadArguments, "the card library is CMDLL.DLL or CMRECDLL.DLL, not " + Utf8(library));
    if (!CCSMDLL::GetCSMDLL()->isValid())
        throw CToolError(ExitFailed, Utf8(library) + " cannot be loaded or lacks entries it needs");
    {
        CActiveCard card(session.Watchguard(), pSource, where);
        if (options.Format() && !options.Confirmed())
            ConfirmFormat(where, card.Size());
        Say("initialising the card in " + Utf8(where) + " through " + Utf8(library));
        CCardInitializer(pSource, options.InitFile(), options.Format()).Run();
    }
    session.Stop();
    CCSMDLL::Unload();
    return ExitSuccess;
}

int Run(int argc, wchar_t* argv[])
{
    CCommandLine options(argc, argv);
    if (!options.WantsRun())
        return ExitSuccess;
    CheckBeforeStart(options);
    if (!options.LapFolder().empty())
        return CLapList(options.LapFolder()).Print();
    if (!options.Lap().empty())
        return CopyLap(options);
    CWatchguardSession session(PrepareLogFolder(options.LogFolder()));
    session.StopWaitsOn(CInterruption::Event());
    if (!options.Telemetry().empty())
        return CopyLaps(session, options);
    bool bImage = !options.Image().empty();
    const std::wstring& where = bImage ? options.Image() : options.Drive();
    CSectorix* pSource = bImage ? session.WaitForImage(where, options.TimeoutSeconds())
                                : session.WaitForDrive(where, options.TimeoutSeconds());
    if (!options.InitFile().empty())
        return InitializeCard(session, pSource, where, options);
    bool bService = pSource->IsKindOf(RUNTIME_CLASS(CSectorixService));
    Say("reading the card in " + Utf8(where) + (bService ? " through the card service" : ""));
    int code = ExitSuccess;
    {
        // The card is closed and deactivated before the watchguard stops.
        CActiveCard card(session.Watchguard(), pSource, where);
        if (options.Rescue())
            code = Rescue(card, options.Copy());
        else
            Copy(card, options.Copy());
    }
    session.Stop();
    return code;
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunTool(ToolName, argc, argv, Run);
}
