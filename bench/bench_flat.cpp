// Flat-function benchmark, against Sectorix.dll as a host uses it: a 256 MiB
// FAT card image read from start to end in 64-sector requests through the
// flat getSectorDataExA, beside the same reads through the active source's
// own ReadSectorsA. The two alternate, each first in every other round, and
// the median of each counts (goal:
// the flat reads at least 0.98 as fast: the flat layer costs nothing
// measurable). Then the cost of one getTelvaneStatus call with the card
// present, beside the source's own TelvaneGetStatus.
#include "GoalMark.h"
#include "ActiveCard.h"
#include "CardBench.h"
#include "Console.h"
#include "ToolError.h"
#include "WatchguardSession.h"

#include "Sectorix/Sectorix.h"
#include "Sectorix/SectorixFlat.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{
const int Rounds = 31;
const UINT SectorsPerRequest = 64;
const DWORD RequestBytes = SectorsPerRequest * Sectorix::SectorSize;
const DWORD CardTimeoutSeconds = 10;
const int StatusCalls = 200000;
const double BytesPerMegabyte = 1e6;
const double BytesPerMebibyte = 1024.0 * 1024.0;
const double NanosecondsPerSecond = 1e9;
const double Goal = 0.98;

typedef std::function<bool(BYTE* buffer, DWORD firstSector, UINT count)> SectorReader;

// Bytes a second over the whole card, every request checked.
double ReadCard(const SectorReader& read, unsigned long long size, BYTE* buffer, const char* name)
{
    unsigned long long sectors = size / Sectorix::SectorSize;
    double start = Now();
    for (unsigned long long first = 0; first < sectors; first += SectorsPerRequest)
    {
        UINT count = static_cast<UINT>(std::min<unsigned long long>(sectors - first, SectorsPerRequest));
        if (!read(buffer, static_cast<DWORD>(first), count))
            throw CToolError(ExitFailed, std::string(name) + " failed at sector " + std::to_string(first));
    }
    return static_cast<double>(sectors * Sectorix::SectorSize) / (Now() - start);
}

// Nanoseconds a call, the status checked once.
double StatusCost(const std::function<bool(unsigned short*)>& status, const char* name)
{
    unsigned short word = 0;
    if (!status(&word) || word != SECTORIX_STATUS_CONNECTED)
        throw CToolError(ExitFailed, std::string(name) + " did not answer connected");
    double start = Now();
    for (int i = 0; i < StatusCalls; ++i)
        status(&word);
    return (Now() - start) * NanosecondsPerSecond / StatusCalls;
}

void Run(const std::wstring& path)
{
    CWatchguardSession session(BenchLogFolder());
    CSectorix* pSource = session.WaitForImage(path, CardTimeoutSeconds);
    CActiveCard card(session.Watchguard(), pSource, path);
    BYTE* buffer = static_cast<BYTE*>(::VirtualAlloc(nullptr, RequestBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!buffer)
        throw CToolError(ExitFailed, "no memory for the read buffer");
    SectorReader flat = [](BYTE* to, DWORD first, UINT count) { return getSectorDataExA(first, count, to) != 0; };
    SectorReader direct = [pSource](BYTE* to, DWORD first, UINT count) {
        return pSource->ReadSectorsA(to, first, count);
    };
    std::vector<double> flatRates, directRates;
    ReadCard(direct, card.Size(), buffer, "ReadSectorsA");
    for (int round = 0; round < Rounds; ++round)
    {
        if (round % 2)
            directRates.push_back(ReadCard(direct, card.Size(), buffer, "ReadSectorsA"));
        flatRates.push_back(ReadCard(flat, card.Size(), buffer, "getSectorDataExA"));
        if (!(round % 2))
            directRates.push_back(ReadCard(direct, card.Size(), buffer, "ReadSectorsA"));
    }
    ::VirtualFree(buffer, 0, MEM_RELEASE);
    double flatRate = Median(flatRates);
    double directRate = Median(directRates);
    std::printf("%.0f MiB card image in %u-byte requests, median of %d rounds: getSectorDataExA %.1f MB/s, "
                "ReadSectorsA %.1f MB/s, ratio %.3f (goal >= %.2f)%s\n",
                static_cast<double>(card.Size()) / BytesPerMebibyte, static_cast<unsigned>(RequestBytes), Rounds,
                flatRate / BytesPerMegabyte, directRate / BytesPerMegabyte, flatRate / directRate, Goal,
                GoalMark(flatRate / directRate >= Goal));

    double flatStatus = StatusCost([](unsigned short* word) { return getTelvaneStatus(word) != 0; },
                                   "getTelvaneStatus");
    double directStatus = StatusCost([pSource](unsigned short* word) { return pSource->TelvaneGetStatus(word); },
                                     "TelvaneGetStatus");
    std::printf("status with the card present, %d calls: getTelvaneStatus %.0f ns a call, the source's "
                "TelvaneGetStatus %.0f ns a call (ratio %.2f)\n",
                StatusCalls, flatStatus, directStatus, flatStatus / directStatus);
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunCardBench("bench_flat", argc, argv, &Run);
}
