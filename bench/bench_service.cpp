// Service-source benchmark, against Sectorix.dll as a host uses it: the
// 256 MiB FAT card image read from start to end through the card service
// (the stand-in, serving the image as physical disk 0), once through the
// library's service source and once by a plain client that speaks the same
// protocol over the same pipe with blocking reads, in turns, at 64 and at
// 128 sectors a request (goal: the service source reaches at least 0.8 of
// the plain client), then at 64 with a log book, and the round trip of a
// 10-byte request shows what a request costs before any data moves.
#include "GoalMark.h"
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
const UINT LoggedRequestSectors = 64;
const UINT MaxRequestSectors = 128;
const unsigned long long RequestsPerTurn = 16;
const DWORD CardTimeoutSeconds = 10;
const DWORD ServiceStartBound = 10000;
const DWORD ServiceStopBound = 10000;
const double BytesPerMegabyte = 1e6;
const double BytesPerMebibyte = 1024.0 * 1024.0;
const double ClientGoal = 0.80;
const char LoggedText[] = "(no goal: the client writes no log and gets no log lines)";
const wchar_t ServiceProgram[] = L"sectorix-card-service.exe";
const wchar_t ServiceStopEvent[] = L"Global\\SectorixStandInStop";
const wchar_t ServedDisk[] = L"\\\\.\\PhysicalDrive0";
const int RoundTrips = 2000;
const double MicrosecondsPerSecond = 1e6;

typedef std::function<bool(BYTE* buffer, DWORD first, UINT count)> ReadCall;

struct SPairRates
{
    double first;
    double second;
};

// Two readers of the whole card in turns of a few requests each, so that
// whatever else the machine does weighs on both alike.
SPairRates ReadCardInTurns(unsigned long long size, UINT perRequest, BYTE* buffer, const ReadCall& first,
                           const ReadCall& second)
{
    const ReadCall* readers[] = { &first, &second };
    double seconds[] = { 0, 0 };
    unsigned long long sectors = size / Sectorix::SectorSize;
    unsigned long long turn = static_cast<unsigned long long>(perRequest) * RequestsPerTurn;
    for (unsigned long long start = 0; start < sectors; start += turn)
    {
        unsigned long long end = std::min(sectors, start + turn);
        for (int reader = 0; reader < 2; ++reader)
        {
            double begin = Now();
            for (unsigned long long at = start; at < end; at += perRequest)
            {
                UINT count = static_cast<UINT>(std::min<unsigned long long>(end - at, perRequest));
                if (!(*readers[reader])(buffer, static_cast<DWORD>(at), count))
                    throw CToolError(ExitFailed, std::string(reader ? "the plain client" : "the service source") +
                                                     " failed at sector " + std::to_string(at));
            }
            seconds[reader] += Now() - begin;
        }
    }
    double bytes = static_cast<double>(sectors * Sectorix::SectorSize);
    return { bytes / seconds[0], bytes / seconds[1] };
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

// The service source and the plain client in turns over the whole card,
// medians of each.
// A goal of 0 is none.
void Compare(const char* what, double goal, unsigned long long size, UINT perRequest, BYTE* buffer,
             const ReadCall& serviceRead, const ReadCall& clientRead)
{
    std::vector<double> serviceRates, clientRates;
    for (int round = 0; round < Rounds; ++round)
    {
        SPairRates rates = ReadCardInTurns(size, perRequest, buffer, serviceRead, clientRead);
        serviceRates.push_back(rates.first);
        clientRates.push_back(rates.second);
    }
    double serviceRate = Median(serviceRates);
    double clientRate = Median(clientRates);
    char goalText[32];
    std::snprintf(goalText, sizeof(goalText), "(goal >= %.2f)%s", goal, GoalMark(serviceRate / clientRate >= goal));
    std::printf("%3u sectors a request%s: service source %.1f MB/s (%.0f us a request), plain client %.1f MB/s "
                "(%.0f us), ratio %.3f %s\n",
                perRequest, what, serviceRate / BytesPerMegabyte,
                MicrosecondsPerRequest(size, perRequest, serviceRate), clientRate / BytesPerMegabyte,
                MicrosecondsPerRequest(size, perRequest, clientRate), serviceRate / clientRate,
                goal > 0 ? goalText : LoggedText);
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

    CSectorix* pDisk = session.WaitForDrive(ServedDisk, CardTimeoutSeconds);
    if (!pDisk->IsKindOf(RUNTIME_CLASS(CSectorixService)))
        throw CToolError(ExitFailed, "the drive source of disk 0 does not go through the card service");
    CDirectPipe pipe;
    ReadCall clientRead = [&pipe](BYTE* b, DWORD first, UINT count) { return pipe.ReadSectors(b, first, count); };
    {
        CActiveCard card(session.Watchguard(), pDisk, ServedDisk);
        ReadCall serviceRead = [&card](BYTE* b, DWORD first, UINT count) { return card.Read(b, first, count); };
        std::printf("%.0f MiB card image, median of %d rounds\n",
                    static_cast<double>(card.Size()) / BytesPerMebibyte, Rounds);
        for (UINT perRequest : RequestSizes)
            Compare("", ClientGoal, card.Size(), perRequest, buffer, serviceRead, clientRead);
    }
    // With a log book the service also sends a log line for each request,
    // and both lines are written: what a host that keeps a log pays.
    session.Watchguard()->SetLogFolder(CString(BenchLogFolder().c_str()));
    {
        CActiveCard card(session.Watchguard(), pDisk, ServedDisk);
        ReadCall serviceRead = [&card](BYTE* b, DWORD first, UINT count) { return card.Read(b, first, count); };
        Compare(" with a log book", 0, card.Size(), LoggedRequestSectors, buffer, serviceRead, clientRead);
    }

    double start = Now();
    for (int i = 0; i < RoundTrips; ++i)
    {
        if (!pipe.AskVersion())
            throw CToolError(ExitFailed, "the card service did not answer a version request");
    }
    std::printf("a 10-byte request's round trip over the pipe takes %.0f us\n",
                (Now() - start) / RoundTrips * MicrosecondsPerSecond);
    ::VirtualFree(buffer, 0, MEM_RELEASE);
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunCardBench("bench_service", argc, argv, &Run);
}
