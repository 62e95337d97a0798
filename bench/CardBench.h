#pragma once

// What the card benchmarks share: the clock, the median, the log folder of
// their watchguard, and the entry that takes the card image and reports
// failures.
#include "Console.h"
#include "ToolError.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

inline double Now()
{
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; ::QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

inline std::wstring BenchLogFolder()
{
    wchar_t temp[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, length) + L"sectorix-bench-logs";
}

inline int RunCardBench(const char* name, int argc, wchar_t* argv[], void (*run)(const std::wstring& image))
{
    if (argc != 2)
    {
        std::printf("usage: %s CARD_IMAGE\n", name);
        return ExitBadArguments;
    }
    try
    {
        run(argv[1]);
        return ExitSuccess;
    }
    catch (const CToolError& error)
    {
        PrintLine(stderr, std::string(name) + ": " + error.what());
        return error.Code();
    }
}
