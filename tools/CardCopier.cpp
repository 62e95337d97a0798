#include "CardCopier.h"

#include "CardReader.h"
#include "Console.h"
#include "ProgressLine.h"
#include "Sha256.h"
#include "ToolError.h"

#include "Sectorix/SectorixDefs.h"

#include <cstdio>
#include <memory>

using Sectorix::SectorSize;

namespace
{
const UINT SectorsPerRequest = 64;
// Sector numbers are 32 bits wide in every read request.
const unsigned long long MaxSectors = 1ull << 32;
const double BytesPerMegabyte = 1e6;
const int RateTextSize = 32;

void FreePages(BYTE* pPages)
{
    ::VirtualFree(pPages, 0, MEM_RELEASE);
}

typedef std::unique_ptr<BYTE, decltype(&FreePages)> Pages;

// The card is read without the system's buffering, which wants whole
// sectors at sector-aligned addresses; whole pages are both.
Pages AllocatePages(size_t bytes)
{
    void* pPages = ::VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!pPages)
        throw CToolError(ExitFailed, "no memory for the read buffer: " + SystemMessage(::GetLastError()));
    return Pages(static_cast<BYTE*>(pPages), &FreePages);
}
}

CCardCopier::CCardCopier(CCardReader& card)
    : m_card(card)
{
}

void CCardCopier::CopyTo(const std::wstring& path)
{
    HANDLE hCopy = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hCopy == INVALID_HANDLE_VALUE)
        throw CToolError(ExitFailed, "cannot write the copy " + Utf8(path) + ": " + SystemMessage(::GetLastError()));
    try
    {
        Copy(hCopy, path);
    }
    catch (...)
    {
        ::CloseHandle(hCopy);
        ::DeleteFileW(path.c_str());
        throw;
    }
    ::CloseHandle(hCopy);
}

void CCardCopier::Copy(HANDLE hCopy, const std::wstring& path)
{
    CSha256 sha256;
    unsigned long long sectors = WholeSectors();
    unsigned long long size = m_card.Size();
    CProgressLine progress(size);
    Pages buffer = AllocatePages(SectorsPerRequest * SectorSize);
    unsigned long long done = 0;
    for (unsigned long long first = 0; first < sectors; first += SectorsPerRequest)
    {
        UINT count = static_cast<UINT>(sectors - first < SectorsPerRequest ? sectors - first : SectorsPerRequest);
        DWORD bytes = count * SectorSize;
        ReadChunk(buffer.get(), static_cast<DWORD>(first), count);
        sha256.Add(buffer.get(), bytes);
        Write(hCopy, buffer.get(), bytes, path);
        done += bytes;
        progress.Update(done);
    }
    progress.Finish(done);
    if (done != size)
        throw CToolError(ExitFailed, "short read: the card has " + std::to_string(size) + " bytes, only " +
                                         std::to_string(done) + " of them in whole sectors");
    m_bytes = done;
    m_rate = progress.Rate(done);
    m_sha256 = sha256.Hex();
}

unsigned long long CCardCopier::WholeSectors() const
{
    unsigned long long sectors = m_card.Size() / SectorSize;
    if (sectors == 0)
        throw CToolError(ExitFailed, "the card in " + Utf8(m_card.Where()) + " is empty");
    if (sectors > MaxSectors)
        throw CToolError(ExitFailed, "the card in " + Utf8(m_card.Where()) + " has more sectors than 32-bit " +
                                         "sector numbers reach");
    return sectors;
}

void CCardCopier::ReadChunk(BYTE* buffer, DWORD firstSector, UINT count)
{
    if (!m_card.Read(buffer, firstSector, count))
        throw CToolError(ExitFailed, "cannot read sector " +
                                         std::to_string(FirstUnreadable(buffer, firstSector, count)) +
                                         " of the card in " + Utf8(m_card.Where()));
}

// A failed request is read again sector by sector to name the bad one; a
// request that fails as a whole but not in pieces names its first sector.
DWORD CCardCopier::FirstUnreadable(BYTE* buffer, DWORD firstSector, UINT count)
{
    for (UINT i = 0; i < count; ++i)
    {
        if (!m_card.Read(buffer, firstSector + i, 1))
            return firstSector + i;
    }
    return firstSector;
}

void CCardCopier::Write(HANDLE hCopy, const BYTE* buffer, DWORD bytes, const std::wstring& path)
{
    DWORD written = 0;
    if (!::WriteFile(hCopy, buffer, bytes, &written, nullptr))
        throw CToolError(ExitFailed, "cannot write the copy " + Utf8(path) + ": " + SystemMessage(::GetLastError()));
    if (written != bytes)
        throw CToolError(ExitFailed, "cannot write the copy " + Utf8(path) + ": the disk took only " +
                                         std::to_string(written) + " of " + std::to_string(bytes) + " bytes");
}

std::string CCardCopier::Report(const std::wstring& path) const
{
    char rate[RateTextSize];
    std::snprintf(rate, sizeof(rate), "%.1f MB/s", m_rate / BytesPerMegabyte);
    return "copied " + std::to_string(m_bytes) + " bytes (" + std::to_string(m_bytes / SectorSize) + " sectors) to " +
           Utf8(path) + " at " + rate + "\nSHA-256 " + m_sha256;
}
