#include "ToolMain.h"

#include "Console.h"
#include "Interruption.h"
#include "ToolError.h"

#include <windows.h>

#include <cstdio>
#include <exception>

namespace
{
const wchar_t DefaultLogFolderName[] = L"sectorix-logs";

std::wstring g_logFolder;

int Report(const std::string& tool, const CToolError& error)
{
    if (CInterruption::Requested())
    {
        std::string consequence = error.Code() == ExitInterrupted ? std::string("; ") + error.what() : "";
        PrintLine(stderr, tool + ": stopped by " + CInterruption::Cause() + consequence);
        return ExitInterrupted;
    }
    PrintLine(stderr, tool + ": " + error.what());
    if (error.Code() == ExitBadArguments)
        PrintLine(stderr, "try '" + tool + " --help' for the usage");
    else if (!g_logFolder.empty())
        PrintLine(stderr, tool + ": more in the daily log in " + Utf8(g_logFolder));
    return error.Code();
}

int Run(const char* tool, int argc, wchar_t* argv[], ToolRun pfnRun)
{
    try
    {
        return pfnRun(argc, argv);
    }
    catch (const CToolError& error)
    {
        return Report(tool, error);
    }
    catch (const std::exception& error)
    {
        return Report(tool, CToolError(ExitFailed, error.what()));
    }
}

std::wstring FullPath(const std::wstring& path)
{
    DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(length, L'\0');
    length = length ? ::GetFullPathNameW(path.c_str(), length, &full[0], nullptr) : 0;
    if (length == 0)
        return path;
    full.resize(length);
    return full;
}
}

int RunTool(const char* tool, int argc, wchar_t* argv[], ToolRun pfnRun)
{
    CInterruption::Install();
    int status = Run(tool, argc, argv, pfnRun);
    CInterruption::Finished();
    return status;
}

std::wstring PrepareLogFolder(const std::wstring& given)
{
    std::wstring folder = given;
    if (folder.empty())
    {
        wchar_t temp[MAX_PATH + 1];
        DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        folder = std::wstring(temp, length) + DefaultLogFolderName;
    }
    folder = FullPath(folder);
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        throw CToolError(ExitFailed, "cannot make the log folder " + Utf8(folder) + ": " +
                                         SystemMessage(::GetLastError()));
    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw CToolError(ExitFailed, "the log folder " + Utf8(folder) + " is a file, not a folder");
    g_logFolder = folder;
    return folder;
}
