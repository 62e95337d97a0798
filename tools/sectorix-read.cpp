// sectorix-read: copies a whole card through Sectorix.dll as a host would
// read it, and prints what it read (size and SHA-256), so the copy can be
// checked against the card.
#include "ActiveCard.h"
#include "CardCopier.h"
#include "CardInitializer.h"
#include "CommandLine.h"
#include "Console.h"
#include "LapCard.h"
#include "LapList.h"
#include "RescueCopier.h"
#include "ToolError.h"
#include "WatchguardSession.h"

#include "Sectorix/CSMDLL.h"
#include "Sectorix/SectorixService.h"

#include <cstdio>
#include <exception>

namespace
{
const char ToolName[] = "sectorix-read: ";
const wchar_t DefaultCardLibrary[] = L"CMDLL.DLL";

std::string Copy(CCardReader& card, const std::wstring& copy)
{
    CCardCopier copier(card);
    copier.CopyTo(copy);
    return copier.Report(copy);
}

// The card is closed and deactivated before the watchguard stops.
std::string CopyCard(CWatchguard* pWatchguard, CSectorix* pSource, const std::wstring& where,
                     const std::wstring& copy)
{
    CActiveCard card(pWatchguard, pSource, where);
    return Copy(card, copy);
}

// What cannot be read is zeros in the copy, and the status says so.
int Rescue(CCardReader& card, const std::wstring& copy, std::string& report)
{
    CRescueCopier copier(card);
    copier.CopyTo(copy);
    report = copier.Report(copy);
    return copier.IsComplete() ? ExitSuccess : ExitIncomplete;
}

int RescueCard(CWatchguardSession& session, CSectorix* pSource, const std::wstring& where, const std::wstring& copy)
{
    std::string report;
    int code = ExitSuccess;
    {
        CActiveCard card(session.Watchguard(), pSource, where);
        code = Rescue(card, copy, report);
    }
    session.Stop();
    PrintLine(stdout, report);
    return code;
}

// A stored lap needs no link, so no watchguard either.
int CopyLap(const CCommandLine& options)
{
    CLapCard lap(options.Lap());
    PrintLine(stdout, "reading the card in the lap file " + Utf8(options.Lap()));
    std::string report;
    int code = ExitSuccess;
    if (options.Rescue())
        code = Rescue(lap, options.Copy(), report);
    else
        report = Copy(lap, options.Copy());
    PrintLine(stdout, report);
    return code;
}

std::wstring LapCopyName(const std::wstring& folder, LPARAM numbers)
{
    return folder + L"\\lap-" + std::to_wstring(HIWORD(numbers)) + L"-" + std::to_wstring(LOWORD(numbers)) + L".img";
}

// Each lap the link finishes is served as the card until the burst is over.
int CopyLaps(CWatchguardSession& session, const CCommandLine& options)
{
    const std::wstring& link = options.Telemetry();
    CSectorix* pSource = session.WaitForLaps(link, options.Libraries(), options.TimeoutSeconds());
    PrintLine(stdout, "reading the laps of the telemetry link " + Utf8(link));
    int laps = 0;
    while (pSource->WaitForBurstData())
    {
        LPARAM numbers = session.TakeLapNumbers();
        std::wstring lap = L"lap " + std::to_wstring(HIWORD(numbers)) + L"." + std::to_wstring(LOWORD(numbers));
        PrintLine(stdout, Utf8(lap));
        PrintLine(stdout, CopyCard(session.Watchguard(), pSource, lap, LapCopyName(options.Copy(), numbers)));
        ++laps;
    }
    session.Stop();
    PrintLine(stdout, std::to_string(laps) + (laps == 1 ? " lap" : " laps") + " copied");
    return ExitSuccess;
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
        PrintLine(stdout, "initialising the card in " + Utf8(where) + " through " + Utf8(library));
        CCardInitializer(pSource, options.InitFile(), options.Format()).Run();
    }
    session.Stop();
    CCSMDLL::Unload();
    return ExitSuccess;
}

int Run(const CCommandLine& options)
{
    if (!options.LapFolder().empty())
        return CLapList(options.LapFolder()).Print();
    if (!options.Lap().empty())
        return CopyLap(options);
    CWatchguardSession session(options.LogFolder());
    if (!options.Telemetry().empty())
        return CopyLaps(session, options);
    bool bImage = !options.Image().empty();
    const std::wstring& where = bImage ? options.Image() : options.Drive();
    CSectorix* pSource = bImage ? session.WaitForImage(where, options.TimeoutSeconds())
                                : session.WaitForDrive(where, options.TimeoutSeconds());
    if (!options.InitFile().empty())
        return InitializeCard(session, pSource, where, options);
    bool bService = pSource->IsKindOf(RUNTIME_CLASS(CSectorixService));
    PrintLine(stdout, "reading the card in " + Utf8(where) + (bService ? " through the card service" : ""));
    if (options.Rescue())
        return RescueCard(session, pSource, where, options.Copy());
    std::string report = CopyCard(session.Watchguard(), pSource, where, options.Copy());
    session.Stop();
    PrintLine(stdout, report);
    return ExitSuccess;
}
}

int wmain(int argc, wchar_t* argv[])
{
    try
    {
        CCommandLine options(argc, argv);
        if (options.WantsHelp())
        {
            std::fputs(CCommandLine::Usage(), stdout);
            return ExitSuccess;
        }
        return Run(options);
    }
    catch (const CToolError& error)
    {
        PrintLine(stderr, ToolName + std::string(error.what()));
        if (error.Code() == ExitBadArguments)
            std::fputs(CCommandLine::Usage(), stderr);
        return error.Code();
    }
    catch (const std::exception& error)
    {
        PrintLine(stderr, ToolName + std::string(error.what()));
        return ExitFailed;
    }
}
