// Image-source benchmark, against Sectorix.dll as a host uses it: a 256 MiB
// FAT card image read from start to end through the image source in
// 64-sector requests, beside a plain unbuffered ReadFile loop over the same
// file with the same 32 KiB requests. The two alternate, so the page cache
// treats them alike; a round of each takes a few milliseconds, so many
// rounds are run and the median of the rounds' ratios counts (goal: the
// source reads at least 0.95 as fast as the plain loop).
#include "GoalMark.h"
#include "ActiveCard.h"
#include "CardBench.h"
#include "Console.h"
#include "ToolError.h"
#include "WatchguardSession.h"

#include "Sectorix/SectorixDefs.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{
const int Rounds = 31;
const UINT SectorsPerRequest = 64;
const DWORD RequestBytes = SectorsPerRequest * Sectorix::SectorSize;
const DWORD CardTimeoutSeconds = 10;
const double BytesPerMegabyte = 1e6;
const double BytesPerMebibyte = 1024.0 * 1024.0;
const double Goal = 0.95;

// Bytes a second through the library, every request checked.
double ReadThroughSource(CActiveCard& card, BYTE* buffer)
{
    unsigned long long sectors = card.Size() / Sectorix::SectorSize;
    double start = Now();
    for (unsigned long long first = 0; first < sectors; first += SectorsPerRequest)
    {
        UINT count = static_cast<UINT>(std::min<unsigned long long>(sectors - first, SectorsPerRequest));
        if (!card.Read(buffer, static_cast<DWORD>(first), count))
            throw CToolError(ExitFailed, "the image source failed at sector " + std::to_string(first));
    }
    return static_cast<double>(sectors * Sectorix::SectorSize) / (Now() - start);
}

// Bytes a second of the same file read the plain way, from its start.
double ReadPlain(HANDLE hFile, BYTE* buffer, unsigned long long size)
{
    LARGE_INTEGER origin = {};
    ::SetFilePointerEx(hFile, origin, nullptr, FILE_BEGIN);
    unsigned long long total = 0;
    double start = Now();
    DWORD bytesRead = 0;
    while (::ReadFile(hFile, buffer, RequestBytes, &bytesRead, nullptr) && bytesRead > 0)
        total += bytesRead;
    double seconds = Now() - start;
    if (total != size)
        throw CToolError(ExitFailed, "the plain loop read " + std::to_string(total) + " of " + std::to_string(size) +
                                         " bytes");
    return static_cast<double>(total) / seconds;
}

HANDLE OpenPlain(const std::wstring& path)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        throw CToolError(ExitFailed, "cannot open " + Utf8(path) + ": " + SystemMessage(::GetLastError()));
    return hFile;
}

void Run(const std::wstring& path)
{
    CWatchguardSession session(BenchLogFolder());
    CSectorix* pSource = session.WaitForImage(path, CardTimeoutSeconds);
    CActiveCard card(session.Watchguard(), pSource, path);
    HANDLE hFile = OpenPlain(path);
    // Unbuffered reads want sector-aligned buffers; pages are.
    BYTE* buffer = static_cast<BYTE*>(::VirtualAlloc(nullptr, RequestBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!buffer)
        throw CToolError(ExitFailed, "no memory for the read buffer");
    std::vector<double> source, plain, ratios;
    ReadPlain(hFile, buffer, card.Size());
    for (int round = 0; round < Rounds; ++round)
    {
        source.push_back(ReadThroughSource(card, buffer));
        plain.push_back(ReadPlain(hFile, buffer, card.Size()));
        ratios.push_back(source.back() / plain.back());
    }
    ::VirtualFree(buffer, 0, MEM_RELEASE);
    ::CloseHandle(hFile);
    double sourceRate = Median(source);
    double plainRate = Median(plain);
    double ratio = Median(ratios);
    std::printf("%.0f MiB card image in %u-byte requests, median of %d rounds: image source %.1f MB/s, "
                "plain ReadFile %.1f MB/s, median ratio %.3f (goal >= %.2f)%s\n",
                static_cast<double>(card.Size()) / BytesPerMebibyte, static_cast<unsigned>(RequestBytes), Rounds,
                sourceRate / BytesPerMegabyte,
                plainRate / BytesPerMegabyte, ratio, Goal, GoalMark(ratio >= Goal));
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunCardBench("bench_image", argc, argv, &Run);
}
