// Service-source benchmark, against Sectorix.dll as a host uses it: the
// 256 MiB FAT card image read from start to end through the card service
// (the stand-in, serving the image as physical disk 0), once through the
// library's service source and once by a plain client that speaks the same
// protocol over the same pipe with blocking reads, in turns, at 64 and at
// 128 sectors a request (goal: the service source reaches at least 0.8 of
// the plain client). The image source, at 64 sectors, shows what a card
// costs without the pipe (goal: the service source at least 0.7 of it),
// and the round trip of a 10-byte request what a request costs before any
// data moves. Medians of each count.
#include "ActiveCard.h"
#include "CardBench.h"
#include "Console.h"
#include "ToolError.h"
#include "WatchguardSession.h"

#include "Sectorix/SectorixService.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{
const int Rounds = 3;
const UINT RequestSizes[] = { 64, 128 };
const UINT ImageRequestSectors = 64;
const UINT MaxRequestSectors = 128;
const DWORD CardTimeoutSeconds = 10;
const DWORD ServiceStartBound = 10000;
const DWORD ServiceStopBound = 10000;
const double BytesPerMegabyte = 1e6;
const double BytesPerMebibyte = 1024.0 * 1024.0;
const double ImageGoal = 0.7;
const double ClientGoal = 0.8;
const wchar_t ServiceProgram[] = L"sectorix-card-service.exe";
const wchar_t ServiceStopEvent[] = L"Global\\SectorixStandInStop";
const wchar_t ServedDisk[] = L"\\\\.\\PhysicalDrive0";
const int RoundTrips = 2000;
const double MicrosecondsPerSecond = 1e6;

typedef std::function<bool(BYTE* buffer, DWORD first, UINT count)> ReadCall;

// Bytes a second over the whole card, every request checked.
double ReadCard(unsigned long long size, UINT perRequest, BYTE* buffer, const ReadCall& read, const char* what)
{
    unsigned long long sectors = size / Sectorix::SectorSize;
    double start = Now();
    for (unsigned long long first = 0; first < sectors; first += perRequest)
    {
        UINT count = static_cast<UINT>(std::min<unsigned long long>(sectors - first, perRequest));
        if (!read(buffer, static_cast<DWORD>(first), count))
            throw CToolError(ExitFailed, std::string(what) + " failed at sector " + std::to_string(first));
    }
    return static_cast<double>(sectors * Sectorix::SectorSize) / (Now() - start);
}

double MicrosecondsPerRequest(unsigned long long size, UINT perRequest, double rate)
{
    double requests = static_cast<double>(size) / (perRequest * Sectorix::SectorSize);
    return static_cast<double>(size) / rate / requests * MicrosecondsPerSecond;
}

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

// The stand-in card service for the length of the run.
class CServiceProcess
{
public:
    explicit CServiceProcess(const std::wstring& image)
    {
        std::wstring command = L"\"" + ProgramFolder() + L"\\" + ServiceProgram + L"\" --parent " +
                               std::to_wstring(::GetCurrentProcessId()) + L" --disk \"0=" + image + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &m_process))
            throw CToolError(ExitFailed, "cannot start the stand-in card service: " + SystemMessage(::GetLastError()));
        HANDLE hRunning = ::CreateEventW(nullptr, TRUE, FALSE, SECTORIX_SERVICE_RUNNING);
        HANDLE handles[] = { hRunning, m_process.hProcess };
        DWORD started = ::WaitForMultipleObjects(2, handles, FALSE, ServiceStartBound);
        ::CloseHandle(hRunning);
        if (started != WAIT_OBJECT_0)
        {
            Stop();
            throw CToolError(ExitFailed, "the stand-in card service did not start");
        }
    }

    ~CServiceProcess() { Stop(); }

private:
    void Stop()
    {
        if (!m_process.hProcess)
            return;
        HANDLE hStop = ::CreateEventW(nullptr, TRUE, FALSE, ServiceStopEvent);
        ::SetEvent(hStop);
        if (::WaitForSingleObject(m_process.hProcess, ServiceStopBound) != WAIT_OBJECT_0)
            ::TerminateProcess(m_process.hProcess, 1);
        ::CloseHandle(hStop);
        ::CloseHandle(m_process.hThread);
        ::CloseHandle(m_process.hProcess);
        m_process = {};
    }

    PROCESS_INFORMATION m_process = {};
};

// The protocol spoken with one blocking read per part of a response, on a
// connection of its own.
class CDirectPipe
{
public:
    CDirectPipe()
    {
        m_hPipe = ::CreateFileW(SECTORIX_SERVICE_PIPE, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
        if (m_hPipe == INVALID_HANDLE_VALUE)
            throw CToolError(ExitFailed, "cannot connect to the card service: " + SystemMessage(::GetLastError()));
        SECTORIX_CARD open = {};
        open.header = { sizeof(SECTORIX_CARD), eServiceCmdOpenCard, Unit };
        SECTORIX_CARD opened = {};
        if (!Write(&open, sizeof(open)) || !Read(&opened, sizeof(opened)) || opened.header.cmd != eServiceCmdOpenCard)
            throw CToolError(ExitFailed, "the card service did not open disk 0");
    }

    ~CDirectPipe() { ::CloseHandle(m_hPipe); }

    bool AskVersion()
    {
        SECTORIX_VERSION request = { { sizeof(SECTORIX_VERSION), eServiceCmdGetVersion, 0 }, 0 };
        SECTORIX_VERSION response = {};
        return Write(&request, sizeof(request)) && Read(&response, sizeof(response)) &&
               response.header.cmd == eServiceCmdGetVersion;
    }

    bool ReadSectors(BYTE* buffer, DWORD first, UINT count)
    {
        SECTORIX_SECTORS request = { { sizeof(SECTORIX_SECTORS), eServiceCmdReadSectors, Unit }, first, count };
        SECTORIX_SECTORS response = {};
        return Write(&request, sizeof(request)) && Read(&response, sizeof(response)) &&
               response.header.cmd == eServiceCmdReadSectors && response.count == count &&
               Read(buffer, count * Sectorix::SectorSize);
    }

private:
    static const BYTE Unit = 0x80;

    bool Write(const void* data, DWORD size)
    {
        DWORD written = 0;
        return ::WriteFile(m_hPipe, data, size, &written, nullptr) && written == size;
    }

    bool Read(void* data, DWORD size)
    {
        for (BYTE* next = static_cast<BYTE*>(data); size > 0;)
        {
            DWORD read = 0;
            if (!::ReadFile(m_hPipe, next, size, &read, nullptr) || read == 0)
                return false;
            next += read;
            size -= read;
        }
        return true;
    }

    HANDLE m_hPipe;
};


std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length ? std::wstring(full, length) : path;
}

void Run(const std::wstring& path)
{
    std::wstring image = FullPath(path);
    CServiceProcess service(image);
    CWatchguardSession session(L"");
    BYTE* buffer = static_cast<BYTE*>(::VirtualAlloc(nullptr, MaxRequestSectors * Sectorix::SectorSize,
                                                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!buffer)
        throw CToolError(ExitFailed, "no memory for the read buffer");

    std::vector<double> imageRates;
    unsigned long long size = 0;
    {
        CSectorix* pImage = session.WaitForImage(image, CardTimeoutSeconds);
        CActiveCard card(session.Watchguard(), pImage, image);
        size = card.Size();
        ReadCall read = [&card](BYTE* b, DWORD first, UINT count) { return card.Read(b, first, count); };
        ReadCard(size, ImageRequestSectors, buffer, read, "the image source");
        for (int round = 0; round < Rounds; ++round)
            imageRates.push_back(ReadCard(size, ImageRequestSectors, buffer, read, "the image source"));
    }
    std::printf("%.0f MiB card image, median of %d rounds\n", static_cast<double>(size) / BytesPerMebibyte,
                Rounds);

    CSectorix* pDisk = session.WaitForDrive(ServedDisk, CardTimeoutSeconds);
    if (!pDisk->IsKindOf(RUNTIME_CLASS(CSectorixService)))
        throw CToolError(ExitFailed, "the drive source of disk 0 does not go through the card service");
    CActiveCard card(session.Watchguard(), pDisk, ServedDisk);
    ReadCall serviceRead = [&card](BYTE* b, DWORD first, UINT count) { return card.Read(b, first, count); };
    CDirectPipe pipe;
    ReadCall clientRead = [&pipe](BYTE* b, DWORD first, UINT count) { return pipe.ReadSectors(b, first, count); };
    double serviceRate64 = 0;
    for (UINT perRequest : RequestSizes)
    {
        std::vector<double> serviceRates, clientRates;
        for (int round = 0; round < Rounds; ++round)
        {
            serviceRates.push_back(ReadCard(size, perRequest, buffer, serviceRead, "the service source"));
            clientRates.push_back(ReadCard(size, perRequest, buffer, clientRead, "the plain client"));
        }
        double serviceRate = Median(serviceRates);
        double clientRate = Median(clientRates);
        if (perRequest == ImageRequestSectors)
            serviceRate64 = serviceRate;
        std::printf("%3u sectors a request: service source %.1f MB/s (%.0f us a request), plain client %.1f MB/s "
                    "(%.0f us), ratio %.3f (goal >= %.2f)\n",
                    perRequest, serviceRate / BytesPerMegabyte, MicrosecondsPerRequest(size, perRequest, serviceRate),
                    clientRate / BytesPerMegabyte, MicrosecondsPerRequest(size, perRequest, clientRate),
                    serviceRate / clientRate, ClientGoal);
    }
    double start = Now();
    for (int i = 0; i < RoundTrips; ++i)
    {
        if (!pipe.AskVersion())
            throw CToolError(ExitFailed, "the card service did not answer a version request");
    }
    double roundTrip = (Now() - start) / RoundTrips;

    double imageRate = Median(imageRates);
    std::printf("image source %.1f MB/s at %u sectors a request: service source/image source %.3f (goal >= %.2f); "
                "a 10-byte request's round trip takes %.0f us\n",
                imageRate / BytesPerMegabyte, ImageRequestSectors, serviceRate64 / imageRate, ImageGoal,
                roundTrip * MicrosecondsPerSecond);
    ::VirtualFree(buffer, 0, MEM_RELEASE);
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunCardBench("bench_service", argc, argv, &Run);
}
