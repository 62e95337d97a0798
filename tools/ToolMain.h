#pragma once

#include <string>

// What every tool does around its own work: output without carriage
// returns, Ctrl+C turned into a clean stop, and one style of message for
// every failure, named after the tool, with the exit status it carries.
typedef int (*ToolRun)(int argc, wchar_t* argv[]);
int RunTool(const char* tool, int argc, wchar_t* argv[], ToolRun pfnRun);

// The log folder the library writes to from now on: the failures that
// follow point there. Default (empty): sectorix-logs in the temp folder.
// Made if it does not exist; throws CToolError(ExitFailed) when it cannot be.
std::wstring PrepareLogFolder(const std::wstring& given);
