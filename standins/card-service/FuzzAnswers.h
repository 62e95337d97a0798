#pragma once

#include "Sectorix/ServiceProtocol.h"

#include <windows.h>

#include <vector>

// Made-up answers to reads, for fuzzing the client's receive path: valid
// messages of every kind, then mutated. Whatever a message declares about
// the data that follows it is honoured where a client could take it, so
// that the client never waits for bytes that do not come. The generator is
// seeded, so that a failing run can be repeated.
class CFuzzAnswers
{
public:
    explicit CFuzzAnswers(DWORD seed);

    // How many messages answer the next read.
    DWORD MessageCount();
    // One message as it goes on the wire, for a read of count sectors.
    std::vector<BYTE> Message(DWORD count);

private:
    union UArea
    {
        SECTORIX_HEADERS message;
        BYTE bytes[Sectorix::ServiceMessageAreaSize];
    };

    DWORD Next();
    DWORD Below(ULONGLONG bound);
    bool Strikes();
    void Fill(BYTE* pBytes, size_t size);
    void Shape(SECTORIX_HEADERS& message, DWORD count);
    void Mutate(UArea& area, DWORD count);
    DWORD MutatedSize(DWORD size);
    WORD MutatedTextValue();
    DWORD MutatedCount(DWORD count);
    std::vector<BYTE> Wire(const UArea& area);

    DWORD m_state;
};
