// sectorix-flat: copies the card that Sectorix.dll offers to a file, using
// nothing but the library's flat functions, as a program written for the
// telemetry library would; prints the copy's size and SHA-256.
#include "CardCopier.h"
#include "Console.h"
#include "FlatCard.h"
#include "FlatLink.h"
#include "ToolError.h"

#include "Sectorix/SectorixFlat.h"

#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>

namespace
{
const char ToolName[] = "sectorix-flat: ";
const DWORD DefaultTimeoutSeconds = 30;
const DWORD MaxTimeoutSeconds = 24 * 60 * 60;
const char Usage[] =
    "usage: sectorix-flat --out COPY [--timeout SECONDS] [--log FOLDER]\n"
    "  Waits for a card in a drive that Sectorix.dll watches (a removable\n"
    "  drive, or a disk that the card service serves) and copies it whole\n"
    "  to COPY.\n"
    "  --timeout SECONDS  how long to wait for a card, 1 to 86400 (default 30)\n"
    "  --log FOLDER       the folder, which must exist, of the library's log files\n";

struct Options
{
    bool help = false;
    std::wstring copy;
    std::wstring logFolder;
    DWORD timeoutSeconds = DefaultTimeoutSeconds;
};

DWORD Seconds(const std::wstring& value)
{
    wchar_t* end = nullptr;
    unsigned long seconds = std::wcstoul(value.c_str(), &end, 10);
    if (value.empty() || *end || seconds == 0 || seconds > MaxTimeoutSeconds)
        throw CToolError(ExitBadArguments, "not a time in seconds: " + Utf8(value));
    return seconds;
}

Options Parse(int argc, wchar_t* argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i)
    {
        std::wstring option = argv[i];
        if (option == L"--help")
        {
            options.help = true;
            continue;
        }
        if (i + 1 >= argc)
            throw CToolError(ExitBadArguments, "missing value of " + Utf8(option));
        std::wstring value = argv[++i];
        if (option == L"--out")
            options.copy = value;
        else if (option == L"--timeout")
            options.timeoutSeconds = Seconds(value);
        else if (option == L"--log")
            options.logFolder = value;
        else
            throw CToolError(ExitBadArguments, "unknown option " + Utf8(option));
    }
    if (!options.help && options.copy.empty())
        throw CToolError(ExitBadArguments, "--out is missing");
    return options;
}

int Run(const Options& options)
{
    if (!options.logFolder.empty() && !SetLogFolder(options.logFolder.c_str()))
        throw CToolError(ExitFailed, "the log folder " + Utf8(options.logFolder) + " does not exist");
    CFlatLink link;
    link.WaitForCard(options.timeoutSeconds);
    CFlatCard card;
    CCardCopier copier(card);
    copier.CopyTo(options.copy);
    PrintLine(stdout, copier.Report(options.copy));
    return ExitSuccess;
}
}

int wmain(int argc, wchar_t* argv[])
{
    try
    {
        Options options = Parse(argc, argv);
        if (options.help)
        {
            std::fputs(Usage, stdout);
            return ExitSuccess;
        }
        return Run(options);
    }
    catch (const CToolError& error)
    {
        PrintLine(stderr, ToolName + std::string(error.what()));
        if (error.Code() == ExitBadArguments)
            std::fputs(Usage, stderr);
        return error.Code();
    }
    catch (const std::exception& error)
    {
        PrintLine(stderr, ToolName + std::string(error.what()));
        return ExitFailed;
    }
}
