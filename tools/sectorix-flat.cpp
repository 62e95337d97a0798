// sectorix-flat: copies the card that Sectorix.dll offers to a file, using
// nothing but the library's flat functions, as a program written for the
// telemetry library would; prints the copy's size and SHA-256.
#include "CardCopier.h"
#include "Console.h"
#include "FlatCard.h"
#include "FlatLink.h"
#include "Interruption.h"
#include "OptionParser.h"
#include "OutputFile.h"
#include "ToolError.h"
#include "ToolMain.h"

#include "Sectorix/SectorixFlat.h"

#include <cwchar>
#include <string>

namespace
{
const char ToolName[] = "sectorix-flat";
const DWORD DefaultTimeoutSeconds = 30;
const DWORD MaxTimeoutSeconds = 24 * 60 * 60;
const char Usage[] =
    "usage: sectorix-flat --out COPY [--timeout SECONDS] [--log DIR] [--quiet]\n"
    "\n"
    "Waits for a card in a drive that Sectorix.dll watches (a removable drive,\n"
    "or a disk that the card service serves), copies it whole to COPY and\n"
    "prints its SHA-256 as sha256sum does. COPY is replaced only by a whole\n"
    "copy.\n"
    "  --out COPY         the copy to write\n"
    "  --timeout SECONDS  how long to wait for a card, 1 to 86400 (default 30)\n"
    "  --log DIR          folder of the library's daily log, made if missing\n"
    "                     (default: sectorix-logs in the temp folder)\n"
    "  --quiet            no progress and no messages, only the SHA-256 line\n"
    "                     and errors\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "exit status: 0 copied, 1 the card could not be read or copied,\n"
    "             2 bad arguments, 3 no card within the timeout,\n"
    "             130 stopped by Ctrl+C, Ctrl+Break or the closing console\n";

DWORD Seconds(const std::wstring& value)
{
    wchar_t* end = nullptr;
    unsigned long seconds = std::wcstoul(value.c_str(), &end, 10);
    if (value.empty() || *end || value[0] == L'-' || seconds == 0 || seconds > MaxTimeoutSeconds)
        throw CToolError(ExitBadArguments, "--timeout wants whole seconds from 1 to " +
                                               std::to_string(MaxTimeoutSeconds) + ", not " + Utf8(value));
    return seconds;
}

// The library's wait for a card ends when asked from another thread.
void EndWaitForCard()
{
    getTelvaneStatusTerminate();
}

int Run(int argc, wchar_t* argv[])
{
    std::wstring copy;
    std::wstring timeout;
    std::wstring logFolder;
    bool bQuiet = false;
    COptionParser parser(ToolName, Usage);
    parser.AddValue(L"--out", copy);
    parser.AddValue(L"--timeout", timeout);
    parser.AddValue(L"--log", logFolder);
    parser.AddFlag(L"--quiet", bQuiet);
    if (!parser.Parse(argc, argv))
        return ExitSuccess;
    if (copy.empty())
        throw CToolError(ExitBadArguments, "--out is missing");
    DWORD timeoutSeconds = timeout.empty() ? DefaultTimeoutSeconds : Seconds(timeout);
    SetQuiet(bQuiet);
    COutputFile::CheckTarget(copy);
    std::wstring folder = PrepareLogFolder(logFolder);
    if (!SetLogFolder(folder.c_str()))
        throw CToolError(ExitFailed, "the library cannot write its log in " + Utf8(folder));
    CFlatLink link;
    CInterruption::SetStopAction(EndWaitForCard);
    link.WaitForCard(timeoutSeconds);
    CInterruption::SetStopAction(nullptr);
    CInterruption::ThrowIfRequested("nothing was written");
    CFlatCard card;
    CCardCopier copier(card);
    copier.CopyTo(copy);
    copier.Report(copy);
    return ExitSuccess;
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunTool(ToolName, argc, argv, Run);
}
