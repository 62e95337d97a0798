// Lap benchmark: a 64 MiB card (a FAT card image followed by a logger's
// records) made into a lap file in memory, its data sectors served through
// CLapImage in 64-sector requests. In order, beside a bare zlib inflate of
// the same stream with the same request size (goal: at least 0.9 of it);
// then in descending and in random order on the lap whose access points the
// pass in order left (goal: at least 0.5 of the rate in order, that is at
// most twice its time), and, for comparison, on a freshly opened lap, whose
// first request must inflate everything below it. The median of the rounds
// counts.
#include "GoalMark.h"
#include "CardBench.h"
#include "FatLayout.h"
#include "FileBytes.h"
#include "LapWriter.h"
#include "ToolError.h"
#include "telemetry/LapImage.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace
{
const int Rounds = 5;
const size_t CardSize = 64u << 20;
const uint32_t SectorsPerRequest = 64;
const uint32_t RequestBytes = SectorsPerRequest * CLapImage::SectorSize;
const double BytesPerMegabyte = 1e6;
const double BytesPerMebibyte = 1024.0 * 1024.0;
const double InOrderGoal = 0.9;
const double AnyOrderGoal = 0.5;
const unsigned RandomSeed = 20261207;

// What a logger writes: 32-byte records of a millisecond clock, twelve
// channels that drift with a little noise, and a running record number.
void FillLoggerRecords(unsigned char* bytes, size_t size)
{
    const size_t RecordSize = 32;
    const int Channels = 12;
    const uint32_t ClockStepMs = 10;
    uint32_t noise = 1;
    uint16_t record[RecordSize / 2] = {};
    for (size_t offset = 0, n = 0; offset + RecordSize <= size; offset += RecordSize, ++n)
    {
        uint32_t clock = static_cast<uint32_t>(n * ClockStepMs);
        record[0] = static_cast<uint16_t>(clock);
        record[1] = static_cast<uint16_t>(clock >> 16);
        for (int c = 0; c < Channels; ++c)
        {
            noise = noise * 1103515245 + 12345;
            record[2 + c] = static_cast<uint16_t>(1000 * (c + 1) + (n / (40 + c)) % 300 + (noise >> 30));
        }
        record[14] = static_cast<uint16_t>(n);
        record[15] = static_cast<uint16_t>(n >> 16);
        std::memcpy(bytes + offset, record, RecordSize);
    }
}

struct Lap
{
    std::vector<unsigned char> card;
    std::vector<unsigned char> file;
    uint32_t firstDataSector;
};

Lap MakeBenchLap(const std::wstring& imagePath)
{
    Lap lap;
    lap.card = ReadFileBytes(imagePath);
    lap.firstDataSector = FatFirstDataSector(lap.card.data(), lap.card.size());
    if (lap.firstDataSector == 0 || lap.card.size() >= CardSize)
        throw CToolError(ExitFailed, Utf8(imagePath) + " is not a FAT card image below 64 MiB");
    size_t imageSize = lap.card.size();
    lap.card.resize(CardSize);
    FillLoggerRecords(lap.card.data() + imageSize, CardSize - imageSize);
    lap.file = MakeLapFile(lap.card.data(), CardSize, lap.firstDataSector, lap.firstDataSector);
    return lap;
}

// Bytes a second of the lap data inflated the bare way, request by request.
double InflateBare(const Lap& lap, unsigned char* buffer)
{
    const _list_block* block = reinterpret_cast<const _list_block*>(lap.file.data());
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        throw CToolError(ExitFailed, "zlib cannot start an inflation");
    stream.next_in = const_cast<unsigned char*>(lap.file.data() + block->DataOffset());
    stream.avail_in = block->DataPackedSize();
    int status = Z_OK;
    double start = Now();
    while (status == Z_OK)
    {
        stream.next_out = buffer;
        stream.avail_out = RequestBytes;
        status = inflate(&stream, Z_SYNC_FLUSH);
    }
    double seconds = Now() - start;
    uint64_t total = stream.total_out;
    inflateEnd(&stream);
    if (status != Z_STREAM_END || total != CardSize - lap.firstDataSector * uint64_t(CLapImage::SectorSize))
        throw CToolError(ExitFailed, "the bare inflation failed");
    return static_cast<double>(total) / seconds;
}

void OpenLap(CLapImage& image, const Lap& lap)
{
    if (!image.Open(lap.file.data(), lap.file.size()) || !image.InflateHeader())
        throw CToolError(ExitFailed, "the lap file was refused");
}

// Bytes a second of the data sectors served in the given order; with a
// card to compare against, each request is checked.
double Serve(CLapImage& image, const std::vector<uint32_t>& firsts, unsigned char* buffer, const Lap* check = nullptr)
{
    const uint32_t cardSectors = CardSize / CLapImage::SectorSize;
    uint64_t served = 0;
    double start = Now();
    for (uint32_t first : firsts)
    {
        uint32_t count = std::min(SectorsPerRequest, cardSectors - first);
        served += count * CLapImage::SectorSize;
        if (!image.ReadSectors(buffer, first, count))
            throw CToolError(ExitFailed, "the lap failed at sector " + std::to_string(first));
        if (check && std::memcmp(buffer, &check->card[size_t(first) * CLapImage::SectorSize],
                                 count * CLapImage::SectorSize) != 0)
            throw CToolError(ExitFailed, "the lap served other bytes at sector " + std::to_string(first));
    }
    return static_cast<double>(served) / (Now() - start);
}

void Report(const char* order, double rate, const char* baseline, double baseRate, double goal)
{
    std::printf("  %-24s %8.1f MB/s", order, rate / BytesPerMegabyte);
    if (baseline)
        std::printf("   ratio %.3f to %s", rate / baseRate, baseline);
    if (goal > 0)
        std::printf(" (goal >= %.2f)%s", goal, GoalMark(rate / baseRate >= goal));
    std::printf("\n");
}

void Run(const std::wstring& imagePath)
{
    Lap lap = MakeBenchLap(imagePath);
    std::vector<uint32_t> ascending;
    for (uint32_t first = lap.firstDataSector; first < CardSize / CLapImage::SectorSize; first += SectorsPerRequest)
        ascending.push_back(first);
    std::vector<uint32_t> descending(ascending.rbegin(), ascending.rend());
    std::vector<uint32_t> shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(RandomSeed));
    std::vector<unsigned char> buffer(RequestBytes);

    for (const std::vector<uint32_t>* order : { &ascending, &descending, &shuffled })
    {
        CLapImage image;
        OpenLap(image, lap);
        Serve(image, *order, buffer.data(), &lap);
    }

    std::vector<double> bare, inOrder, down, random, freshDown, freshRandom;
    for (int round = 0; round < Rounds; ++round)
    {
        bare.push_back(InflateBare(lap, buffer.data()));
        CLapImage image;
        OpenLap(image, lap);
        inOrder.push_back(Serve(image, ascending, buffer.data()));
        down.push_back(Serve(image, descending, buffer.data()));
        random.push_back(Serve(image, shuffled, buffer.data()));
        CLapImage freshForDown, freshForRandom;
        OpenLap(freshForDown, lap);
        freshDown.push_back(Serve(freshForDown, descending, buffer.data()));
        OpenLap(freshForRandom, lap);
        freshRandom.push_back(Serve(freshForRandom, shuffled, buffer.data()));
    }

    std::printf("lap of a %.0f MiB card, %.1f MiB of data sectors from sector %u, %.1f MiB compressed, "
                "%u-sector requests, median of %d rounds:\n",
                CardSize / BytesPerMebibyte,
                (CardSize - lap.firstDataSector * double(CLapImage::SectorSize)) / BytesPerMebibyte,
                static_cast<unsigned>(lap.firstDataSector), lap.file.size() / BytesPerMebibyte,
                static_cast<unsigned>(SectorsPerRequest), Rounds);
    double sequential = Median(inOrder);
    Report("bare zlib inflate", Median(bare), nullptr, 0, 0);
    Report("in order", sequential, "bare inflate", Median(bare), InOrderGoal);
    Report("descending", Median(down), "in order", sequential, AnyOrderGoal);
    Report("random", Median(random), "in order", sequential, AnyOrderGoal);
    // A fresh lap inflates everything below its first request before it
    // serves it, and all of it again as the rest is read: at most half the
    // rate in order, whatever the points.
    Report("descending, fresh lap", Median(freshDown), "in order", sequential, 0);
    Report("random, fresh lap", Median(freshRandom), "in order", sequential, 0);
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunCardBench("bench_lap", argc, argv, &Run);
}
