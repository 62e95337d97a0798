// sectorix-card-service: stands in for the privileged card service. It
// serves card image files on the service's pipe, as a service of the chosen
// protocol version would, and can misbehave on purpose for the tests.
#include "CardVolume.h"
#include "Console.h"
#include "EveryoneAccess.h"
#include "PipeServer.h"
#include "Recorder.h"
#include "ServiceEvents.h"
#include "ServiceOptions.h"

#include "Sectorix/ServiceProtocol.h"
#include "Sectorix/SectorixVersion.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace
{
const int ExitEnded = 0;
const int ExitFailed = 1;
const int ExitBadArguments = 2;
const DWORD MillisecondsPerSecond = 1000;

int Fail(const std::string& problem)
{
    Complain(problem);
    return ExitFailed;
}

int Fail(const std::string& problem, DWORD error)
{
    return Fail(problem + ": " + SystemMessage(error));
}

std::string StartupLine(const CServiceOptions& options, const CCardVolumes& volumes)
{
    std::string line = std::string(ProgramName) + ": protocol " + options.VersionText() + ", serving";
    const char* pSeparator = " ";
    for (const std::unique_ptr<CCardVolume>& volume : volumes)
    {
        line += pSeparator + volume->Name() + (volume->IsDisk() ? " (" : ": (") + Narrow(volume->Image(), CP_UTF8) +
                ")";
        pSeparator = ", ";
    }
    return volumes.empty() ? line + " no volume" : line;
}

// Whichever comes first: --stop, the end of the parent, the lifetime.
void WaitForTheEnd(const CServiceOptions& options, HANDLE hStop, HANDLE hParent)
{
    HANDLE ends[] = {hStop, hParent};
    ::WaitForMultipleObjects(hParent ? static_cast<DWORD>(ARRAYSIZE(ends)) : 1, ends, FALSE,
                             options.LifetimeSeconds() * MillisecondsPerSecond);
}

int Serve(const CServiceOptions& options)
{
    // Serving nothing is a mistyped command line, unless a test process
    // wants only the service's other answers.
    if (options.Images().empty() && !options.HasParent())
        return Fail("no card image to serve: give --drive X=IMAGE or --disk N=IMAGE");
    CCardVolumes volumes;
    for (const SServedImage& served : options.Images())
    {
        volumes.emplace_back(new CCardVolume(served.volume, served.image));
        if (DWORD error = volumes.back()->Open())
            return Fail("cannot serve " + Narrow(volumes.back()->Image(), CP_UTF8), error);
    }
    CRecorder recorder;
    if (!options.RecordFile().empty())
    {
        if (DWORD error = recorder.Open(options.RecordFile()))
            return Fail("cannot record to " + Narrow(options.RecordFile(), CP_UTF8), error);
    }
    // The parent's handle lives as long as the program.
    HANDLE hParent = nullptr;
    if (options.HasParent() && !(hParent = ::OpenProcess(SYNCHRONIZE, FALSE, options.Parent())))
        return Fail("cannot watch process " + std::to_string(options.Parent()), ::GetLastError());

    CEveryoneAccess access;
    SServiceContext context = {options, volumes, recorder, 0};
    CPipeServer server(context, access.Attributes());
    if (DWORD error = server.Start())
    {
        bool bTaken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
        return bTaken ? Fail("the pipe " + Narrow(SECTORIX_SERVICE_PIPE, CP_UTF8) + " is in use")
                      : Fail("cannot listen", error);
    }
    CServiceEvents events(access.Attributes());
    if (DWORD error = events.Create())
        return Fail("cannot create the service's events", error);
    events.AnnounceRunning(options.Version() != Sectorix::ServiceVersion1000);
    std::printf("%s\n", StartupLine(options, volumes).c_str());
    std::fflush(stdout);

    WaitForTheEnd(options, events.Stop(), hParent);
    server.Stop();
    if (options.ReadFault() == eReadFaultFuzz)
        std::printf("%s: fuzz messages sent: %ld\n", ProgramName, context.fuzzMessagesSent);
    return ExitEnded;
}
}

int wmain(int argc, wchar_t* argv[])
{
    // Lines end as on the other tools: no carriage return in files and pipes.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    CServiceOptions options;
    if (!options.Parse(argc, argv))
    {
        Complain(options.Problem());
        std::fprintf(stderr, "try '%s --help' for the usage\n", ProgramName);
        return ExitBadArguments;
    }
    if (options.WantsHelp())
    {
        std::fputs(CServiceOptions::Usage(), stdout);
        return ExitEnded;
    }
    if (options.WantsVersion())
    {
        std::printf("%s %s\n", ProgramName, SECTORIX_VERSION_STRING);
        return ExitEnded;
    }
    if (options.WantsStop())
    {
        if (CServiceEvents::SignalStop())
            return ExitEnded;
        return Fail("no stand-in card service is running");
    }
    return Serve(options);
}
