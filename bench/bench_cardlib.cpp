// Card library benchmark, against Sectorix.dll as a host uses it, with the
// stand-in CMDLL.DLL selected. The CMDLL format of a copy of the 256 MiB
// card image through the active image source, beside writing the same 0xFF
// sectors straight through the source's WriteSectors in the same 64-sector
// requests; the two alternate and the median of each counts (goal: the
// format writes at least 0.9 as fast). Then VerifyCard on two equal init
// files of many records, beside reading the same files and comparing their
// bytes plainly (no goal: the record walk's cost is shown).
#include "GoalMark.h"
#include "ActiveCard.h"
#include "CardBench.h"
#include "Console.h"
#include "ToolError.h"
#include "WatchguardSession.h"

#include "Sectorix/CSMDLL.h"
#include "Sectorix/Sectorix.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace
{
const int FormatRounds = 3;
const int VerifyRounds = 5;
const UINT SectorsPerRequest = 64;
const DWORD RequestBytes = SectorsPerRequest * Sectorix::SectorSize;
const DWORD CardTimeoutSeconds = 10;
const double BytesPerMegabyte = 1e6;
const double Goal = 0.9;
const wchar_t StandinFolder[] = L"..\\standins\\cardlib\\full";
const DWORD InitRecords = 20000;
const DWORD RecordData = 32;
const WORD FirstRecordType = 0x1000;

std::wstring TempFile(const wchar_t* name)
{
    wchar_t temp[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, length) + name;
}

std::wstring StandinPath()
{
    wchar_t exe[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + StandinFolder;
}

// Bytes a second of the format through the flat functions.
double Format(CCSMDLL* pCSMDLL, unsigned long long size)
{
    double start = Now();
    if (pCSMDLL->FormatCard() != Sectorix::CARDLIB_SUCCESS)
        throw CToolError(ExitFailed, "the format failed");
    return static_cast<double>(size) / (Now() - start);
}

// Bytes a second of the same 0xFF sectors written by the source itself.
double WriteDirect(CSectorix* pSource, BYTE* erased, unsigned long long size)
{
    DWORD sectors = static_cast<DWORD>(size / Sectorix::SectorSize);
    double start = Now();
    for (DWORD first = 0; first < sectors; first += SectorsPerRequest)
    {
        UINT count = sectors - first < SectorsPerRequest ? sectors - first : SectorsPerRequest;
        if (!pSource->WriteSectors(erased, first, count))
            throw CToolError(ExitFailed, "the image source failed to write sector " + std::to_string(first));
    }
    return static_cast<double>(size) / (Now() - start);
}

void BenchFormat(CWatchguardSession& session, const std::wstring& image, CCSMDLL* pCSMDLL)
{
    std::wstring copy = TempFile(L"sectorix-bench-format.img");
    if (!::CopyFileW(image.c_str(), copy.c_str(), FALSE))
        throw CToolError(ExitFailed, "cannot copy the card image: " + SystemMessage(::GetLastError()));
    CSectorix* pSource = session.WaitForImage(copy, CardTimeoutSeconds);
    std::vector<double> format, direct;
    {
        CActiveCard card(session.Watchguard(), pSource, copy);
        BYTE* erased =
            static_cast<BYTE*>(::VirtualAlloc(nullptr, RequestBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (!erased)
            throw CToolError(ExitFailed, "no memory for the write buffer");
        std::memset(erased, 0xFF, RequestBytes);
        for (int round = 0; round < FormatRounds; ++round)
        {
            format.push_back(Format(pCSMDLL, card.Size()));
            direct.push_back(WriteDirect(pSource, erased, card.Size()));
        }
        ::VirtualFree(erased, 0, MEM_RELEASE);
    }
    ::DeleteFileW(copy.c_str());
    double formatRate = Median(format);
    double directRate = Median(direct);
    std::printf("CMDLL format of a %llu-byte card image, median of %d rounds: format %.1f MB/s, "
                "WriteSectors %.1f MB/s, ratio %.3f (goal >= %.2f)%s\n",
                pSource->GetCardSize(), FormatRounds, formatRate / BytesPerMegabyte, directRate / BytesPerMegabyte,
                formatRate / directRate, Goal, GoalMark(formatRate / directRate >= Goal));
}

std::vector<BYTE> ManyRecords()
{
    std::vector<BYTE> file;
    for (DWORD i = 0; i < InitRecords; ++i)
    {
        WORD type = static_cast<WORD>(FirstRecordType + i);
        const BYTE header[] = { LOBYTE(type), HIBYTE(type), 0, 0, static_cast<BYTE>(RecordData), 0, 0, 0 };
        file.insert(file.end(), header, header + sizeof(header));
        file.insert(file.end(), RecordData, static_cast<BYTE>(i));
    }
    return file;
}

void WriteBytes(const std::wstring& path, const std::vector<BYTE>& bytes)
{
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool ok = hFile != INVALID_HANDLE_VALUE &&
              ::WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    if (hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(hFile);
    if (!ok)
        throw CToolError(ExitFailed, "cannot write " + Utf8(path));
}

std::vector<BYTE> ReadBytes(const std::wstring& path, size_t size)
{
    std::vector<BYTE> bytes(size);
    HANDLE hFile = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD got = 0;
    if (hFile != INVALID_HANDLE_VALUE)
    {
        ::ReadFile(hFile, bytes.data(), static_cast<DWORD>(size), &got, nullptr);
        ::CloseHandle(hFile);
    }
    bytes.resize(got);
    return bytes;
}

void BenchVerify(CCSMDLL* pCSMDLL)
{
    std::vector<BYTE> records = ManyRecords();
    std::wstring a = TempFile(L"sectorix-bench-a.init");
    std::wstring b = TempFile(L"sectorix-bench-b.init");
    WriteBytes(a, records);
    WriteBytes(b, records);
    std::vector<double> verify, plain;
    for (int round = 0; round < VerifyRounds; ++round)
    {
        double start = Now();
        if (!pCSMDLL->VerifyCard(a.c_str(), b.c_str()))
            throw CToolError(ExitFailed, "VerifyCard found the equal files different");
        verify.push_back(Now() - start);
        start = Now();
        std::vector<BYTE> left = ReadBytes(a, records.size());
        std::vector<BYTE> right = ReadBytes(b, records.size());
        if (left.size() != records.size() || left != right)
            throw CToolError(ExitFailed, "the plain comparison found the equal files different");
        plain.push_back(Now() - start);
    }
    ::DeleteFileW(a.c_str());
    ::DeleteFileW(b.c_str());
    double verifySeconds = Median(verify);
    double plainSeconds = Median(plain);
    std::printf("VerifyCard of two equal init files of %lu records (%zu bytes), median of %d rounds: "
                "VerifyCard %.2f ms, plain read and compare %.2f ms, ratio %.3f\n",
                static_cast<unsigned long>(InitRecords), records.size(), VerifyRounds, verifySeconds * 1000,
                plainSeconds * 1000, plainSeconds / verifySeconds);
}

void Run(const std::wstring& image)
{
    CWatchguardSession session(BenchLogFolder());
    session.SearchLibrariesIn(StandinPath());
    if (!CCSMDLL::SelectCSMDLL(nullptr) || !CCSMDLL::GetCSMDLL()->isValid())
        throw CToolError(ExitFailed, "the stand-in CMDLL.DLL cannot be loaded from " + Utf8(StandinPath()));
    CCSMDLL* pCSMDLL = CCSMDLL::GetCSMDLL();
    BenchFormat(session, image, pCSMDLL);
    BenchVerify(pCSMDLL);
    session.Stop();
    CCSMDLL::Unload();
}
}

int wmain(int argc, wchar_t* argv[])
{
    return RunCardBench("bench_cardlib", argc, argv, &Run);
}
