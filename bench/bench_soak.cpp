// Soak run: whole cycles of use repeated, as a host in a pit garage repeats
// them for days, while the stand-in card service serves the card image as
// physical disk 0. One cycle: a flat sequence from init to deinit that
// reads the service's disk; then a watchguard of its own that reads the
// service's disk through the drive sources, reads the image file and
// formats it through the stand-in CMDLL.DLL, enables and disables CSM, SPI
// and RT9A burst sources, asks the service to delete an ARP entry, and
// serves a telemetry burst of one lap and releases it. After the warm-up
// cycles it prints what the process holds and its growth per thousand
// cycles: handles, threads, private bytes and USER objects (goal: no growth
// beyond noise). An argument sets the number of cycles.
//
// The stand-in libraries are loaded once for the whole run, so that the
// library's own loading and freeing of them never unmaps them: each
// unmapping would leave behind the stand-ins' own per-thread runtime state
// (a handle of the calling thread and an event), which is no growth of
// Sectorix.dll. The lap of each burst is then offered through the
// stand-in's control entry.
#include "ActiveCard.h"
#include "CardBench.h"
#include "Console.h"
#include "FlatCard.h"
#include "FlatLink.h"
#include "ToolError.h"
#include "WatchguardSession.h"

#include "Sectorix/CSMDLL.h"
#include "Sectorix/Sectorix.h"
#include "Sectorix/SectorixService.h"
#include "Sectorix/SectorixTelvane.h"
#include "Sectorix/Watchguard.h"

#include "CardLibStandin.h"
#include "TelemetryStandin.h"

#include <tlhelp32.h>

#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace
{
const int DefaultCycles = 400;
const int WarmUpCycles = 10;
const int ReportEvery = 100;
const DWORD CardTimeoutSeconds = 10;
const UINT SectorsRead = 8;
const wchar_t ServiceDisk[] = L"\\\\.\\PhysicalDrive0";
const wchar_t CardLibrary[] = L"CMDLL.DLL";
const wchar_t* const TelemetryStandins[] = { L"telvane.dll", L"SpiDirect.dll", L"RT9Burst.DLL" };
const WORD LinkConnected = 0xF006;
const UINT_PTR BurstStep = 2;
const DWORD ConnectBound = 5000;
const DWORD ConnectPoll = 5;
const wchar_t CardVariable[] = L"CARDLIB_STANDIN_CARD";
const wchar_t LinkName[] = L"soak";
const UINT SourceMessage = WM_APP + 20;
// 192.168.1.20, first octet in the lowest byte.
const unsigned long ArpAddress = 0x1401A8C0;
const double PerThousand = 1000.0;
const UINT_PTR HandleStep = 4;
const UINT_PTR HandleValueLimit = 0x10000;
const double BytesPerKibibyte = 1024.0;
const char InitText[] = "\001\001\000\000\004\000\000\000soak";

struct Usage
{
    double handles;
    double threads;
    double privateBytes;
    double userObjects;
};

struct Options
{
    std::wstring image;
    std::wstring lap;
    std::wstring telemetryLibraries;
    std::wstring cardLibraries;
    int cycles = DefaultCycles;
    TelemetryStandin::ControlProc telvane = nullptr;
    // Each stand-in's control entry with the operation that empties its
    // call record, which grows with every call.
    std::vector<std::pair<Standin::ControlProc, int>> records;
};

void Check(bool condition, const std::string& step)
{
    if (!condition)
        throw CToolError(ExitFailed, step + " failed");
}

DWORD ThreadCount()
{
    HANDLE hSnapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return 0;
    DWORD count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(hSnapshot, &entry); more; more = ::Thread32Next(hSnapshot, &entry))
    {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    }
    ::CloseHandle(hSnapshot);
    return count;
}

// Wine answers some of the system's counts with zero; where it does, the
// count is made by hand and the report says so.
DWORD HandleCount(bool& counted)
{
    DWORD handles = 0;
    counted = !::GetProcessHandleCount(::GetCurrentProcess(), &handles) || handles == 0;
    if (!counted)
        return handles;
    DWORD flags = 0;
    for (UINT_PTR value = HandleStep; value < HandleValueLimit; value += HandleStep)
    {
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++handles;
    }
    return handles;
}

SIZE_T PrivateBytes()
{
    SIZE_T bytes = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (const BYTE* p = nullptr; ::VirtualQuery(p, &region, sizeof(region)) == sizeof(region);
         p = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize)
    {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            bytes += region.RegionSize;
    }
    return bytes;
}

BOOL CALLBACK CountOwnWindow(HWND hWnd, LPARAM param)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(hWnd, &process);
    if (process == ::GetCurrentProcessId())
        ++*reinterpret_cast<DWORD*>(param);
    return TRUE;
}

DWORD UserObjects(bool& counted)
{
    DWORD objects = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    counted = objects == 0;
    if (counted)
        ::EnumWindows(&CountOwnWindow, reinterpret_cast<LPARAM>(&objects));
    return objects;
}

// Measured between cycles, when the cycle's own handles are closed again.
Usage Measure(std::string& how)
{
    bool handlesCounted = false;
    bool objectsCounted = false;
    Usage usage = { static_cast<double>(HandleCount(handlesCounted)), static_cast<double>(ThreadCount()),
                    static_cast<double>(PrivateBytes()), static_cast<double>(UserObjects(objectsCounted)) };
    how = std::string(handlesCounted ? "handles: open handle values" : "handles: GetProcessHandleCount") +
          "; private bytes: committed private regions" +
          (objectsCounted ? "; USER objects: top-level windows" : "; USER objects: GetGuiResources");
    return usage;
}

void Report(FILE* out, int cycle, const Usage& now, const Usage& warm, int cyclesSinceWarm)
{
    double scale = cyclesSinceWarm > 0 ? PerThousand / cyclesSinceWarm : 0.0;
    std::fprintf(out, "after %5d cycles: handles %.0f (%+.1f per 1000 cycles), threads %.0f (%+.1f), private bytes %.0f KiB "
                "(%+.1f KiB), USER objects %.0f (%+.1f)\n",
                cycle, now.handles, (now.handles - warm.handles) * scale, now.threads,
                (now.threads - warm.threads) * scale, now.privateBytes / BytesPerKibibyte,
                (now.privateBytes - warm.privateBytes) * scale / BytesPerKibibyte, now.userObjects,
                (now.userObjects - warm.userObjects) * scale);
    std::fflush(out);
}

void ReadSome(CCardReader& card, const std::string& where)
{
    std::vector<BYTE> buffer(SectorsRead * Sectorix::SectorSize);
    Check(card.Read(buffer.data(), 0, SectorsRead), "reading " + where);
}

// The link, the wait and the card end with their objects, the flat way.
void FlatSequence()
{
    CFlatLink link;
    link.WaitForCard(CardTimeoutSeconds);
    CFlatCard card;
    ReadSome(card, "the flat card");
}

void ImageAndFormat(CWatchguardSession& session, const Options& options, const std::wstring& initFile)
{
    CSectorix* pImage = session.WaitForImage(options.image, CardTimeoutSeconds);
    session.SearchLibrariesIn(options.cardLibraries);
    Check(CCSMDLL::SelectCSMDLL(CardLibrary) && CCSMDLL::GetCSMDLL()->isValid(), "loading CMDLL.DLL");
    CActiveCard card(session.Watchguard(), pImage, options.image);
    ReadSome(card, "the image");
    DWORD code = 0;
    Check(pImage->InitializeCard(initFile.c_str(), true, &code) == ErrorNone, "formatting the image");
}

void ServiceDrive(CWatchguardSession& session)
{
    CSectorix* pDrive = session.WaitForDrive(ServiceDisk, CardTimeoutSeconds);
    {
        CActiveCard card(session.Watchguard(), pDrive, ServiceDisk);
        ReadSome(card, "the service's disk");
    }
    Check(session.Watchguard()->EnableDrives(false), "disabling the drives");
}

// CSM drives use the selected card library; the links look for their own.
void OtherKinds(CWatchguardSession& session, const Options& options)
{
    CWatchguard* pWatchguard = session.Watchguard();
    DWORD thread = ::GetCurrentThreadId();
    Check(pWatchguard->EnableCSM(true) && pWatchguard->EnableCSM(false), "enabling and disabling CSM");
    session.SearchLibrariesIn(options.telemetryLibraries);
    // Disabling a link answers false whatever it did.
    Check(pWatchguard->EnableSPIDirect(true, thread, nullptr, SourceMessage), "enabling SPI");
    pWatchguard->EnableSPIDirect(false, thread, nullptr, SourceMessage);
    Check(pWatchguard->EnableRT9ABurst(true, LinkName, nullptr, thread, nullptr, SourceMessage),
          "enabling the RT9A burst");
    pWatchguard->EnableRT9ABurst(false, LinkName, nullptr, thread, nullptr, SourceMessage);
}

// The link reports its status to the window that the library names once it
// has started it: the connected status must come after that.
DWORD WINAPI ConnectAfterStart(void* pParam)
{
    auto control = reinterpret_cast<TelemetryStandin::ControlProc>(pParam);
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < ConnectBound; ::Sleep(ConnectPoll))
    {
        if (TelemetryStandin::Calls(control).find(L"startTelvaneCommunication") != std::wstring::npos)
            break;
    }
    control(TelemetryStandin::SetStatus, LinkConnected, nullptr);
    return 0;
}

void LapBurst(CWatchguardSession& session, const Options& options)
{
    TelemetryStandin::Lap lap = { options.lap.c_str(), 1, 1, 0, 1 };
    Check(options.telvane(TelemetryStandin::OfferLap, 0, &lap) != 0, "offering the lap");
    options.telvane(TelemetryStandin::SetStep, BurstStep, nullptr);
    HANDLE hConnect = ::CreateThread(nullptr, 0, &ConnectAfterStart, reinterpret_cast<void*>(options.telvane), 0,
                                     nullptr);
    Check(hConnect != nullptr, "starting the thread that connects the link");
    CSectorix* pLink = session.WaitForLaps(LinkName, options.telemetryLibraries, CardTimeoutSeconds);
    ::WaitForSingleObject(hConnect, INFINITE);
    ::CloseHandle(hConnect);
    while (pLink->WaitForBurstData())
    {
        session.LapsStored();
        CActiveCard card(session.Watchguard(), pLink, L"the lap");
        ReadSome(card, "the lap");
    }
    session.Watchguard()->EnableTelvane(false, LinkName, nullptr, ::GetCurrentThreadId(), nullptr, SourceMessage);
}

void Cycle(const Options& options, const std::wstring& initFile)
{
    for (const auto& record : options.records)
        record.first(record.second, 0, nullptr);
    FlatSequence();
    {
        CWatchguardSession session(BenchLogFolder());
        ServiceDrive(session);
        ImageAndFormat(session, options, initFile);
        OtherKinds(session, options);
        Check(CSectorixService::DeleteArpEntry(ArpAddress) == eDeleteArpEntrySuccess, "deleting an ARP entry");
        LapBurst(session, options);
        session.Stop();
    }
    CCSMDLL::Unload();
}

Standin::ControlProc Pin(const std::wstring& folder, const wchar_t* name)
{
    HMODULE hModule = ::LoadLibraryW((folder + L"\\" + name).c_str());
    Standin::ControlProc control = hModule ? Standin::Control(hModule) : nullptr;
    Check(control != nullptr, "loading the stand-in " + Utf8(name));
    return control;
}

std::wstring WriteInitFile()
{
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring path = std::wstring(temp) + L"sectorix-soak.init";
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool ok = hFile != INVALID_HANDLE_VALUE && ::WriteFile(hFile, InitText, sizeof(InitText) - 1, &written, nullptr) &&
              written == sizeof(InitText) - 1;
    if (hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(hFile);
    Check(ok, "writing the init file");
    return path;
}

Options Parse(int argc, wchar_t* argv[])
{
    if (argc != 5 && argc != 6)
        throw CToolError(ExitBadArguments,
                         "usage: bench_soak CARD_IMAGE LAP_FILE TELEMETRY_LIBRARIES CARD_LIBRARIES [CYCLES]");
    Options options;
    options.image = argv[1];
    options.lap = argv[2];
    options.telemetryLibraries = argv[3];
    options.cardLibraries = argv[4];
    if (argc == 6)
    {
        options.cycles = static_cast<int>(std::wcstol(argv[5], nullptr, 10));
        if (options.cycles <= WarmUpCycles)
            throw CToolError(ExitBadArguments, "CYCLES must be more than the " + std::to_string(WarmUpCycles) +
                                                   " warm-up cycles");
    }
    return options;
}

int Run(int argc, wchar_t* argv[])
{
    Options options = Parse(argc, argv);
    // The image is formatted by the stand-in card library, which works on
    // the same file.
    Check(::SetEnvironmentVariableW(CardVariable, options.image.c_str()) != 0, "naming the card to the stand-in");
    options.records.emplace_back(Pin(options.cardLibraries, CardLibrary), CardLibStandin::ClearCalls);
    for (const wchar_t* name : TelemetryStandins)
        options.records.emplace_back(Pin(options.telemetryLibraries, name), TelemetryStandin::ClearCalls);
    options.telvane = options.records[1].first;
    std::wstring initFile = WriteInitFile();
    // The flat wait prompts for a card on the standard output every cycle;
    // the prompts go nowhere, the figures to what the output was.
    std::fflush(stdout);
    FILE* out = _fdopen(_dup(_fileno(stdout)), "w");
    Check(out && _wfreopen(L"NUL", L"w", stdout), "setting the output aside");
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    double start = Now();
    for (int cycle = 1; cycle <= WarmUpCycles; ++cycle)
        Cycle(options, initFile);
    std::string how;
    Usage warm = Measure(how);
    std::fprintf(out, "%s\n", how.c_str());
    Report(out, WarmUpCycles, warm, warm, 0);
    for (int cycle = WarmUpCycles + 1; cycle <= options.cycles; ++cycle)
    {
        Cycle(options, initFile);
        if ((cycle - WarmUpCycles) % ReportEvery == 0 || cycle == options.cycles)
            Report(out, cycle, Measure(how), warm, cycle - WarmUpCycles);
    }
    std::fprintf(out, "%d cycles in %.1f s, %.0f ms a cycle\n", options.cycles, Now() - start,
                (Now() - start) * PerThousand / options.cycles);
    ::DeleteFileW(initFile.c_str());
    std::fclose(out);
    return ExitSuccess;
}
}

int wmain(int argc, wchar_t* argv[])
{
    try
    {
        return Run(argc, argv);
    }
    catch (const CToolError& error)
    {
        PrintLine(stderr, std::string("bench_soak: ") + error.what());
        return error.Code();
    }
}
