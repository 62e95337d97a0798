#pragma once

#include "CardReader.h"

#include <vector>

// Sectors first to last of a card, both included.
struct SSectorRange
{
    DWORD first;
    DWORD last;
};

// A damaged card read so that a copy goes on to its end: a request that
// fails is split in halves down to single sectors, a single sector is tried
// a bounded number of times, and what stays unreadable is served as zeros
// and remembered.
class CRescueReader : public CCardReader
{
public:
    // Every read of a single sector, the first included.
    static const UINT SectorAttempts = 3;

    explicit CRescueReader(CCardReader& card);

    std::wstring Name() const override { return m_card.Name(); }
    unsigned long long Size() const override { return m_card.Size(); }
    // Never fails: what cannot be read is zeros.
    bool Read(BYTE* buffer, DWORD firstSector, UINT count) override;

    // The unreadable sectors, in the order read, neighbours joined.
    const std::vector<SSectorRange>& BadSectors() const { return m_badSectors; }
    unsigned long long BadSectorCount() const { return m_nBadSectors; }

private:
    void ReadSingle(BYTE* buffer, DWORD sector);
    void MarkBad(DWORD sector);

    CCardReader& m_card;
    std::vector<SSectorRange> m_badSectors;
    unsigned long long m_nBadSectors = 0;
};
