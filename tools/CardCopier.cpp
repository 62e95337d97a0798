#include "CardCopier.h"

#include "CardReader.h"
#include "Console.h"
#include "Interruption.h"
#include "OutputFile.h"
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
    COutputFile copy(path);
    Copy(copy);
    copy.Commit();
}

void CCardCopier::Copy(COutputFile& copy)
{
    CSha256 sha256;
    unsigned long long sectors = WholeSectors();
    unsigned long long size = m_card.Size();
    CProgressLine progress(size);
    Pages buffer = AllocatePages(SectorsPerRequest * SectorSize);
    unsigned long long done = 0;
    for (unsigned long long first = 0; first < sectors; first += SectorsPerRequest)
    {
        CInterruption::ThrowIfRequested("the partial copy was removed");
        UINT count = static_cast<UINT>(sectors - first < SectorsPerRequest ? sectors - first : SectorsPerRequest);
        DWORD bytes = count * SectorSize;
        ReadChunk(buffer.get(), static_cast<DWORD>(first), count);
        sha256.Add(buffer.get(), bytes);
        copy.Write(buffer.get(), bytes);
        done += bytes;
        progress.Update(done);
    }
    progress.Finish(done);
    if (done != size)
        throw CToolError(ExitFailed, "short read: " + Utf8(m_card.Name()) + " has " + std::to_string(size) +
                                         " bytes, only " + std::to_string(done) + " of them in whole sectors");
    m_bytes = done;
    m_rate = progress.Rate(done);
    m_sha256 = sha256.Hex();
}

unsigned long long CCardCopier::WholeSectors() const
{
    unsigned long long sectors = m_card.Size() / SectorSize;
    if (sectors == 0)
        throw CToolError(ExitFailed, Utf8(m_card.Name()) + " is empty");
    if (sectors > MaxSectors)
        throw CToolError(ExitFailed, Utf8(m_card.Name()) + " has more sectors than 32-bit " +
                                         "sector numbers reach");
    return sectors;
}

void CCardCopier::ReadChunk(BYTE* buffer, DWORD firstSector, UINT count)
{
    if (!m_card.Read(buffer, firstSector, count))
        throw CToolError(ExitFailed, "cannot read sector " +
                                         std::to_string(FirstUnreadable(buffer, firstSector, count)) +
                                         " of " + Utf8(m_card.Name()));
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

void CCardCopier::Report(const std::wstring& path) const
{
    char rate[RateTextSize];
    std::snprintf(rate, sizeof(rate), "%.1f MB/s", m_rate / BytesPerMegabyte);
    Say("copied " + std::to_string(m_bytes) + " bytes (" + std::to_string(m_bytes / SectorSize) + " sectors) to " +
        Utf8(path) + " at " + rate);
    PrintLine(stdout, m_sha256 + "  " + Utf8(path));
}
